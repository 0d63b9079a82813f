// The dictation controller's keeping and retrying of a failed take.
#include "app/DictationController.h"
#include "app/DictationPipeline.h"
#include "base/AppState.h"
#include "base/Log.h"
#include "capture/KeptTake.h"
#include "capture/TakeFiles.h"
#include "feedback/Overlay.h"
#include "platform/Platform.h"

namespace velvox {

namespace {

// How often a running copy looks whether its kept take has grown too old.
constexpr double kKeptTakeCheckSeconds = 3600;

// The failure's own words, and that nothing said is lost.
std::string retryable(const std::string& message) {
    return message + (message.ends_with('.') ? "" : ".") + " Retry from the tray menu";
}

}  // namespace

void DictationController::transcriptionFailed(const std::string& message,
                                              std::shared_ptr<TakeFile> take) {
    Processing failed;
    if (auto* processing = std::get_if<Processing>(&state_)) failed = std::move(*processing);
    state_ = Idle{};
    std::string error;
    bool kept = take && *take &&
                KeptTake::keep(std::move(*take), DictationPipeline::modeOf(failed.dictation.kind),
                               failed.seconds, error);
    if (take && !kept && !error.empty()) Log::write("failed dictation could not be kept: " + error);
    // Said plainly: there is nothing to retry, not even an older take.
    bool lost = take && !kept;
    flashError(kept   ? retryable(message)
               : lost ? message + (message.ends_with('.') ? "" : ".") +
                            " The recording could not be kept"
                      : message);
    setRetryAvailable(KeptTake::exists());
}

std::string DictationController::retryLastDictation() {
    // Like a key-down, a retry waits for nothing: the take at hand goes first.
    if (!std::holds_alternative<Idle>(state_)) {
        Log::write(busy() ? "retry refused: busy" : "retry refused: recording");
        return busy() ? "the last dictation is still being made" : "a dictation is being recorded";
    }
    std::optional<KeptTake::Kept> kept = KeptTake::take();
    if (!kept) {
        setRetryAvailable(false);
        flashError("Nothing to retry");
        return "Nothing to retry";
    }
    // The text goes where the user is now, not where the failed take was aimed.
    Target target = Target::frontmost();
    std::optional<Smart::Kind> kind = Smart::fromRawValue(kept->mode);
    latestKind_ = kind;

    Log::write("retrying the last failed dictation");
    state_ = Processing{{std::move(target), kind}, kept->seconds};
    setRetryAvailable(false);
    setStatus("Transcribing\u2026");
    Overlay::shared().show(OverlayState::thinking(),
                           kind ? Overlay::boostAccent : Overlay::plainAccent, nullptr);
    auto prompt = DictationPipeline::preparePrompt(config_, kind);
    process(std::move(kept->file), kind, prompt.text);
    return "";
}

void DictationController::dismissKeptTake() {
    if (busy()) return;
    KeptTake::dismiss();
    Log::write("failed dictation dismissed");
    setRetryAvailable(false);
}

void DictationController::rescueInterruptedTake() {
    auto found = TakeFiles::newestFinished(Platform::clock().now() - KeptTake::kLongest);
    if (!found) return;
    // Its kind was not written down: it is retried as a plain dictation.
    keepForRetry(TakeFile(*found), "plain", 0,
                 "the recording of a dictation the last exit interrupted");
}

void DictationController::keepForRetry(TakeFile take, const std::string& mode, double seconds,
                                       const std::string& what) {
    std::string error;
    if (KeptTake::keep(std::move(take), mode, seconds, error)) {
        Log::write("kept " + what);
    } else {
        Log::write(what + " could not be kept: " + error);
    }
}

void DictationController::loadKeptTake() {
    if (KeptTake::dropExpired(Platform::clock().now()))
        Log::write("dropped a failed dictation kept for more than 24 hours");
    setRetryAvailable(KeptTake::exists());
    if (keptTakeTimer_.active()) return;
    keptTakeTimer_ = Platform::mainQueue().repeating(
        kKeptTakeCheckSeconds, self_.bind([](DictationController& controller) {
            if (!controller.busy()) controller.loadKeptTake();
        }));
}

void DictationController::setRetryAvailable(bool available) {
    AppState::setRetryAvailable(available);
    if (onRetryAvailableChanged) onRetryAvailableChanged(available);
}

}  // namespace velvox
