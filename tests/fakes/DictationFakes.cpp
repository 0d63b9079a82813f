#include "fakes/DictationFakes.h"

#include "platform/Accessibility.h"
#include "platform/AudioTake.h"
#include "platform/HttpClient.h"
#include "platform/KeyEventSource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/Panel.h"
#include "platform/PasteKeystroke.h"
#include "platform/Pasteboard.h"
#include "platform/Screens.h"
#include "platform/StatusItem.h"
#include "platform/Workspace.h"

namespace velvox::testing {

DictationFakes::DictationFakes() {
    Platform::installKeyEventSource(keys);
    Platform::installAudioInput(audio);
    microphone->authorization = MicrophoneAuthorization::authorized;
    Platform::installMicrophoneAccess(microphone);
    workspace->frontmost = RunningApplication{4242, "org.example.Editor", "Editor"};
    Platform::installWorkspace(workspace);
    pasteboard->items = {textItem("the user's clipboard")};
    Platform::installPasteboard(pasteboard);
    Platform::installPasteKeystroke(keystroke);
    accessibility->field = FakeField{};
    accessibility->field->processId = 4242;  // the editor's own field
    Platform::installAccessibility(accessibility);
    panels->panel = std::make_shared<FakePanel>(Size{200, 40});
    Platform::installPanels(panels);
    screens->all = {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}};
    screens->main = screens->all[0];
    Platform::installScreens(screens);
    Platform::installStatusItem(statusItem);
    Platform::installHttpClient(http);
}

}  // namespace velvox::testing
