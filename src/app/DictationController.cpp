#include "app/DictationController.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/DictationPipeline.h"
#include "app/TakeGuards.h"
#include "base/AppState.h"
#include "base/Brand.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Strings.h"
#include "capture/HotkeyMonitor.h"
#include "capture/KeyNames.h"
#include "delivery/Paster.h"
#include "feedback/BrandIcon.h"
#include "feedback/Overlay.h"
#include "platform/Desktop.h"
#include "platform/KeyEventSource.h"
#include "platform/MicrophoneAccess.h"
#include "platform/Pasteboard.h"
#include "platform/Platform.h"
#include "platform/StatusItem.h"
#include "platform/Workspace.h"
#include "records/History.h"
#include "records/Stats.h"
#include "services/API.h"
#include "text/Graphemes.h"

namespace velvox {

namespace {

constexpr size_t kOverlayTextLimit = 58;
constexpr double kFlashSeconds = 2.2;
const std::string kEllipsis = "\u2026";

bool microphoneAuthorized() {
    return Platform::microphoneAccess().status() == MicrophoneAuthorization::authorized;
}

int64_t fileSize(const std::string& path) {
    return Files::size(path).value_or(0);
}

}  // namespace

DictationController::DictationController(Config config) : config_(std::move(config)), self_(this) {}

DictationController::~DictationController() {
    self_.invalidate();
}

namespace {

using WeakController = WeakSelf<DictationController>::Ref;

// Runs work on the main queue later, unless the controller is gone by then.
void postTo(const WeakController& weak, std::function<void(DictationController&)> work) {
    Platform::mainQueue().async([weak, work = std::move(work)] {
        if (DictationController* self = weak.get()) work(*self);
    });
}

}  // namespace

void DictationController::connect(HotkeyMonitor& monitor) {
    recorder_.onUnexpectedStop =
        self_.bind([](DictationController& c) { c.recorderStoppedUnexpectedly(); });
    // Another microphone took over or the device went away: what was said
    // until then is kept, as when the key goes up.
    recorder_.onInputEnded = self_.bind([](DictationController& c) { c.endRecording(); });
    monitor.onDown = self_.bind([](DictationController& c, int64_t code) {
        c.heldKey_ = code;
        c.keyDown(code);
    });
    monitor.onUp = self_.bind([](DictationController& c) { c.hotkeyReleased(); });
    monitor.onHotkeyNeverSeen = self_.bind([](DictationController& c) { c.hotkeyNeverSeen(); });
    monitor.onOtherKeyDown =
        self_.bind([](DictationController& c, int64_t code) { c.otherKeyDown(code); });
}

// ---- the status line ----

std::string DictationController::hotkeyName() const {
    auto taken = Platform::keyEventSource().takenKeys();
    auto usable = [&](int64_t code) {
        return code >= 0 && std::find(taken.begin(), taken.end(), code) == taken.end();
    };
    std::string name;
    if (usable(config_.hotkeyKeyCode)) name = KeyNames::name(config_.hotkeyKeyCode) + " to dictate";
    if (usable(config_.boostHotkeyKeyCode)) {
        if (!name.empty()) name += " \u00B7 ";
        name += KeyNames::name(config_.boostHotkeyKeyCode) + " for smart";
    }
    return name;
}

std::string DictationController::readyLine() const {
    // No key of ours can fire there: the line says what does.
    DesktopShortcutKeys assigned = Platform::keyEventSource().desktopShortcutKeys();
    if (!assigned.dictation.empty()) {
        std::string line = "Ready. " + assigned.dictation + " to dictate";
        if (!assigned.boost.empty()) line += " \u00B7 " + assigned.boost + " for smart";
        return line;
    }
    if (!Platform::keyEventSource().seesGlobalKeys())
        return "Wayland session: bind \"velvox dictate toggle\" to a key in your desktop's "
               "keyboard shortcuts";
    // Through XWayland, keys and text reach X11 applications only; the line
    // must not promise more.
    std::string hold = Platform::desktop().displaySession() == DisplaySession::wayland
                           ? "Wayland session: works in X11 apps only. Hold "
                           : "Ready. Hold ";
    std::string takenNames;
    int takenCount = 0;
    for (int64_t code : Platform::keyEventSource().takenKeys()) {
        if (code != config_.hotkeyKeyCode && code != config_.boostHotkeyKeyCode) continue;
        takenNames += (takenCount++ ? " and " : "") + KeyNames::name(code);
    }
    if (takenCount == 0) return hold + hotkeyName() + " to talk";
    std::string takenLine =
        takenNames + (takenCount == 1 ? " is" : " are") + " taken by another application";
    std::string usable = hotkeyName();
    if (usable.empty()) return takenLine + ", choose another key in Settings";
    return hold + usable + " to talk. " + takenLine;
}

void DictationController::refreshReadyLine() {
    if (AppState::tapRunning() && std::holds_alternative<Idle>(state_)) setStatus(readyLine());
}

void DictationController::setStatus(const std::string& text) {
    statusLine_ = text;
    AppState::setStatus(text);
    if (onStatusLineChanged) onStatusLineChanged(text);
}

std::string DictationController::overlayText(const std::string& message) {
    if (Graphemes::count(message) <= kOverlayTextLimit) return message;
    return Graphemes::prefix(message, kOverlayTextLimit) + kEllipsis;
}

void DictationController::flashError(const std::string& message) {
    setStatus(message);
    Overlay::shared().show(OverlayState::error(overlayText(message)),
                           latestKind_ ? Overlay::boostAccent : Overlay::plainAccent, nullptr);
    Overlay::shared().hide(kFlashSeconds);
    Log::write(message);
}

void DictationController::setIcon(bool recording) {
    Platform::statusItem().setImage(Brand::menuBarIcon(recording));
    Platform::statusItem().setToolTip(Brand::name);
}

// ---- the target ----

DictationController::Target DictationController::Target::frontmost() {
    Target target{Platform::workspace().frontmostApplication()};
    if (target.app && target.app->name.empty()) target.app->name = "Unknown";
    return target;
}

std::optional<int32_t> DictationController::Target::processId() const {
    return app ? std::optional<int32_t>(app->processId) : std::nullopt;
}

std::string DictationController::Target::bundle() const {
    return app ? app->bundleIdentifier : "";
}

std::string DictationController::Target::name() const {
    return app ? app->name : "Unknown";
}

// ---- the key going down: rest (or a take a command started) to recording ----

void DictationController::keyDown(int64_t keyCode) {
    if (busy()) return;
    beginRecording(keyCode == config_.boostHotkeyKeyCode);
}

std::string DictationController::beginRecording(bool boost) {
    if (!microphoneAuthorized()) {
        Platform::microphoneAccess().requestAccess([](bool) {});
        flashError("Microphone access needed");
        return "Microphone access needed";
    }
    if (!recorder_.start(config_.inputDevice)) {
        // Starting let any take in progress go first.
        state_ = Idle{};
        flashError("Microphone busy or unavailable");
        return "Microphone busy or unavailable";
    }
    // The connection for the transcription opens while the user speaks.
    API::warmUp(config_);

    Target target = Target::frontmost();
    std::optional<Smart::Kind> kind =
        boost ? std::optional(Smart::kind(target.bundle(), target.processId(), config_))
              : std::nullopt;
    latestKind_ = kind;
    state_ = Recording{{std::move(target), kind},
                       Platform::mainQueue().asyncAfter(
                           config_.maxRecordSeconds,
                           self_.bind([](DictationController& c) { c.endRecording(); }))};
    // The take runs; what shows it follows on the next turns, so the keys
    // that come meanwhile wait for none of it. History's date data loads
    // last: the first pill waits for nothing more.
    uint64_t take = ++takes_;
    followInTurns(
        [take](const DictationController& c) {
            return c.takes_ == take && std::holds_alternative<Recording>(c.state_);
        },
        {[](DictationController& c) { c.showListeningPill(); },
         [](DictationController& c) { c.setIcon(true); },
         [](DictationController& c) {
             std::optional<std::string> label;
             if (c.latestKind_) label = Smart::label(*c.latestKind_);
             c.setStatus(label ? "Listening, " + Strings::asciiLowercase(*label) + kEllipsis
                               : "Listening" + kEllipsis);
         },
         [](DictationController& c) {
             if (c.config_.keepHistory) History::prepare();
         }});
    return "";
}

void DictationController::followInTurns(std::function<bool(const DictationController&)> due,
                                        std::vector<Step> steps, size_t next) {
    if (next >= steps.size()) return;
    Platform::mainQueue().async(
        self_.bind([due = std::move(due), steps = std::move(steps), next](DictationController& c) {
            if (!due(c)) return;
            steps[next](c);
            c.followInTurns(due, steps, next + 1);
        }));
}

void DictationController::showListeningPill() {
    std::optional<std::string> label;
    if (latestKind_) label = Smart::label(*latestKind_);
    Overlay::shared().show(OverlayState::listening(label),
                           latestKind_ ? Overlay::boostAccent : Overlay::plainAccent,
                           [weak = self_.ref()] {
                               DictationController* self = weak.get();
                               return self ? self->recorder_.level() : 0.0;
                           });
}

void DictationController::dropTake() {
    state_ = Idle{};
    recorder_.discard();
    setIcon(false);
    Overlay::shared().hide(0);
}

// ---- key-up or cap: recording to processing, or back to rest ----

void DictationController::endRecording() {
    auto* recording = std::get_if<Recording>(&state_);
    if (!recording) return;
    if (!recorder_.isRecording()) {
        dropTake();
        flashError("Microphone stopped");
        return;
    }
    double elapsed = recorder_.elapsed();
    TakeFile file = recorder_.stop();
    Dictation dictation = std::move(recording->dictation);
    state_ = Idle{};

    // A comparison with NaN is false, so a NaN duration counts as too short
    // (the take is deleted as it goes out of scope).
    if (!file || !(config_.minHoldSeconds <= elapsed)) {
        setIcon(false);
        Overlay::shared().hide(0);
        setStatus(readyLine());
        return;
    }

    Log::write("recorded " + Strings::fixed(elapsed, 1) + "s, " + std::to_string(fileSize(*file)) +
               " bytes");
    if (!TakeGuards::heardVoice(recorder_.loudestPower())) {
        // Silence sent to the speech model can come back as invented words.
        file.reset();
        double loudest = recorder_.loudestPower();
        Log::write("silent take not sent, loudest input " +
                   (std::isfinite(loudest) ? Strings::fixed(loudest, 1) + " dB" : "none"));
        setIcon(false);
        heardNothing();
        return;
    }
    std::optional<Smart::Kind> kind = dictation.kind;
    state_ = Processing{std::move(dictation), elapsed};
    auto prompt = DictationPipeline::preparePrompt(config_, kind);
    process(std::move(file), kind, prompt.text);
    // The take is on its way first; what shows it follows, unless the
    // answer came first or the next take began.
    auto processing = [](const DictationController& c) {
        return std::holds_alternative<Processing>(c.state_);
    };
    followInTurns(
        [](const DictationController& c) { return !std::holds_alternative<Recording>(c.state_); },
        {[processing](DictationController& c) {
             if (processing(c)) Overlay::shared().update(OverlayState::thinking());
         },
         [](DictationController& c) { c.setIcon(false); },
         [processing](DictationController& c) {
             if (processing(c)) c.setStatus("Transcribing" + kEllipsis);
         }});
}

void DictationController::process(TakeFile file, std::optional<Smart::Kind> kind,
                                  const std::string& prompt) {
    WeakController weak = self_.ref();
    DictationPipeline::Handlers handlers;
    handlers.transcriptionFailed = [weak](const std::string& message,
                                          std::shared_ptr<TakeFile> take) {
        postTo(weak,
               [message, take](DictationController& c) { c.transcriptionFailed(message, take); });
    };
    handlers.heardNothing = [weak] {
        postTo(weak, [](DictationController& c) { c.heardNothing(); });
    };
    handlers.polishing = [weak] {
        postTo(weak, [](DictationController& c) { c.setStatus("Polishing" + kEllipsis); });
    };
    handlers.finished = [weak](const DictationPipeline::Result& result) {
        postTo(weak, [result](DictationController& c) { c.transcriptionFinished(result); });
    };
    // The handlers run on the network thread and reach the controller only on the main queue.
    DictationPipeline::process(std::move(file), config_, kind, prompt, std::move(handlers));
}

void DictationController::hotkeyReleased() {
    heldKey_.reset();
    endRecording();
    if (auto* waiting = std::get_if<WaitingForRelease>(&state_)) {
        WaitingForRelease ready = std::move(*waiting);
        deliver(ready.processed, ready.result);
    }
}

std::string DictationController::runCommand(DictationCommand command, bool boost) {
    bool recording = std::holds_alternative<Recording>(state_);
    if (command == DictationCommand::toggle)
        command = recording ? DictationCommand::stop : DictationCommand::start;
    // A stop after the length cap ended the take, or a start during one,
    // finds the dictation as the user wants it.
    if (command == DictationCommand::stop) {
        hotkeyReleased();
        return "";
    }
    if (recording) return "";
    if (busy()) return "the last dictation is still being made";
    return beginRecording(boost);
}

// ---- the transcription's outcome, back on the main thread ----

void DictationController::heardNothing() {
    state_ = Idle{};
    flashError(microphoneAuthorized() ? "Heard nothing, check the input device"
                                      : "Microphone not allowed");
}

void DictationController::transcriptionFinished(const DictationPipeline::Result& result) {
    auto* processing = std::get_if<Processing>(&state_);
    if (!processing) return;
    // While an ordinary hotkey is held (the cap ended the recording), the
    // desktop may send every key to us (an X11 key grab), so a paste would
    // not reach the target: the text waits for the release.
    if (heldKey_ && modifierFlag(*heldKey_) == 0) {
        state_ = WaitingForRelease{std::move(*processing), result};
        setStatus("Release " + KeyNames::name(*heldKey_) + " to insert the text");
        return;
    }
    Processing processed = std::move(*processing);
    deliver(processed, result);
}

// ---- delivery: processing (or waiting for the release) to rest ----

void DictationController::deliver(const Processing& processed,
                                  const DictationPipeline::Result& result) {
    Log::write("delivering " + std::to_string(Graphemes::count(result.text)) +
               " chars, autoPaste " + (config_.autoPaste ? "true" : "false"));
    const Target& target = processed.dictation.target;
    const std::string mode = DictationPipeline::modeOf(processed.dictation.kind);
    const std::string& out = result.tidied;
    // The recording goes once the text is in: a crash before then leaves it
    // for a retry, a retry after then could only type the text twice.
    auto dropRecording = [take = result.take] {
        if (take) take->reset();
    };
    History::append(result.transcript, out, processed.dictation.kind.has_value(),
                    config_.keepHistory);
    if (config_.keepHistory) {
        Stats::record(out, result.spoken, processed.seconds, target.bundle(), target.name(), mode);
    }
    lastResult_ = out;
    Overlay::shared().hide(0);
    AppState::dictated(out, processed.seconds, mode);

    state_ = Idle{};
    bool polishFailed = result.polishFailure.has_value();
    if (target.bundle() == Brand::bundleID && AppState::insertIntoOwnWindow() &&
        AppState::insertIntoOwnWindow()(out, mode)) {
        dropRecording();
        delivered(DeliveryOutcome::inserted(), polishFailed);
        Log::write("delivered into own window");
        return;
    }
    Paster::deliverAsking(
        out, target.app,
        {.autoPaste = config_.autoPaste,
         .direct = config_.insertDirectly,
         .alwaysCopy = config_.alwaysCopyToClipboard},
        self_.bind([polishFailed, dropRecording](DictationController& c, DeliveryOutcome outcome) {
            dropRecording();
            c.delivered(outcome, polishFailed);
            // A paste is known to have gone out only once its keys have.
            if (outcome.succeeded() && outcome.kind != DeliveryOutcome::Kind::pasted)
                Log::write("delivered ok");
        }),
        self_.bind([](DictationController& c, const std::optional<std::string>& failure) {
            if (failure) {
                c.flashError(*failure);
            } else {
                Log::write("delivered ok");
            }
        }));
}

// The text is in, or waits on the clipboard with a word for the user. A new
// take may have begun meanwhile: its status line stays.
void DictationController::delivered(const DeliveryOutcome& outcome, bool polishFailed) {
    if (!outcome.succeeded()) {
        flashError(outcome.message);
    } else if (!busy()) {
        setStatus(readyLine());
    }
    if (polishFailed && !busy()) setStatus("Cleanup failed, pasted raw. See Console");
}

// ---- keys and the microphone during a take ----

void DictationController::otherKeyDown(int64_t keyCode) {
    if (!std::holds_alternative<Recording>(state_)) return;
    auto verdict =
        TakeGuards::judgeKey(keyCode, heldKey_, recorder_.elapsed(), config_.minHoldSeconds);
    if (verdict == TakeGuards::KeyDuringTake::keep) return;
    dropTake();
    setStatus(readyLine());
    if (verdict == TakeGuards::KeyDuringTake::cancel) Log::write("cancelled");
}

// Also reached at rest: a take whose file could not be finished at key-up is
// reported after it ended.
void DictationController::recorderStoppedUnexpectedly() {
    if (busy()) return;
    dropTake();
    flashError("Microphone stopped");
}

void DictationController::hotkeyNeverSeen() {
    AppState::setFnDead(true);
    // One of the keys this system offers by default, not the silent one.
    DefaultHotkeys defaults = Platform::keyEventSource().defaultHotkeys();
    std::string suggestion = KeyNames::name(
        config_.hotkeyKeyCode == defaults.dictation ? defaults.boost : defaults.dictation);
    setStatus("Your keyboard never reports " + KeyNames::name(config_.hotkeyKeyCode) + ". Try " +
              suggestion);
    flashError("Hotkey not supported");
}

// ---- menu ----

void DictationController::stopForExit() {
    auto* recording = std::get_if<Recording>(&state_);
    if (!recording) return;
    std::optional<Smart::Kind> kind = recording->dictation.kind;
    state_ = Idle{};
    if (!recorder_.isRecording()) {
        recorder_.discard();
        return;
    }
    // Quit or logout in the middle of a take: what was said so far waits
    // for a retry, as after a failed transcription.
    double elapsed = recorder_.elapsed();
    TakeFile file = recorder_.stop();
    if (!file || !(config_.minHoldSeconds <= elapsed) ||
        !TakeGuards::heardVoice(recorder_.loudestPower()))
        return;
    keepForRetry(std::move(file), DictationPipeline::modeOf(kind), elapsed,
                 "the recording the exit cut short");
}

void DictationController::copyLast() {
    if (lastResult_.empty()) return;
    PasteboardItem item;
    item.representations.push_back({PasteboardType::plainText, lastResult_});
    Platform::pasteboard().setItems({item});
}

}  // namespace velvox
