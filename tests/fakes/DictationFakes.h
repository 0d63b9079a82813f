#pragma once

#include <memory>

#include "fakes/FakeAccessibility.h"
#include "fakes/FakeAudioInput.h"
#include "fakes/FakeHttpClient.h"
#include "fakes/FakeKeyEventSource.h"
#include "fakes/FakeMicrophoneAccess.h"
#include "fakes/FakePanel.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeScreens.h"
#include "fakes/FakeStatusItem.h"
#include "fakes/FakeWorkspace.h"
#include "platform/Platform.h"

namespace velvox::testing {

// Every edge a dictation touches, faked and installed: an allowed microphone, an editor in
// front with an empty focused field, the user's clipboard and a network the test answers.
struct DictationFakes {
    DictationFakes() {
        Platform::installKeyEventSource(keys);
        Platform::installAudioInput(audio);
        microphone->authorization = MicrophoneAuthorization::authorized;
        Platform::installMicrophoneAccess(microphone);
        workspace->frontmost = RunningApplication{4242, "org.example.Editor", "Editor"};
        Platform::installWorkspace(workspace);
        pasteboard->items = {textItem("the user's clipboard")};
        Platform::installPasteboard(pasteboard);
        Platform::installPasteKeystroke(keystroke);
        accessibility->field = FakeField{.processId = 4242};  // the editor's own field
        Platform::installAccessibility(accessibility);
        panels->panel = std::make_shared<FakePanel>(Size{200, 40});
        Platform::installPanels(panels);
        screens->all = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}};
        screens->main = screens->all[0];
        Platform::installScreens(screens);
        Platform::installStatusItem(statusItem);
        Platform::installHttpClient(http);
    }
    std::shared_ptr<FakeKeyEventSource> keys = std::make_shared<FakeKeyEventSource>();
    std::shared_ptr<FakeAudioInput> audio = std::make_shared<FakeAudioInput>();
    std::shared_ptr<FakeMicrophoneAccess> microphone = std::make_shared<FakeMicrophoneAccess>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::shared_ptr<FakePasteboard> pasteboard = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakePasteKeystroke> keystroke = std::make_shared<FakePasteKeystroke>();
    std::shared_ptr<FakeAccessibility> accessibility = std::make_shared<FakeAccessibility>();
    std::shared_ptr<FakePanels> panels = std::make_shared<FakePanels>();
    std::shared_ptr<FakeScreens> screens = std::make_shared<FakeScreens>();
    std::shared_ptr<FakeStatusItem> statusItem = std::make_shared<FakeStatusItem>();
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
};

}  // namespace velvox::testing
