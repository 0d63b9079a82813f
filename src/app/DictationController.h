#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/WeakSelf.h"
#include "capture/DictationCommand.h"
#include "capture/Recorder.h"
#include "config/Config.h"
#include "platform/MainQueue.h"
#include "text/Smart.h"

namespace velvox {

class HotkeyMonitor;
namespace DictationPipeline {
struct Result;
}

// Runs one dictation from the hotkey going down to the text landing in the
// application that was in front: recording, transcription, corrections,
// polishing, tidy-up, history and statistics, delivery, and the status line
// and pill along the way. Main thread only, except where the network answers.
//
// At rest there is no recording and nothing is busy; a key-down starts a
// recording; the key-up (or the recording cap) hands it to processing, during
// which further key-downs are ignored; delivery or a failure returns to rest.
class DictationController {
  public:
    explicit DictationController(Config config);
    ~DictationController();
    DictationController(const DictationController&) = delete;
    DictationController& operator=(const DictationController&) = delete;

    // Wires the hotkey monitor's and the recorder's callbacks to this controller.
    void connect(HotkeyMonitor& monitor);

    // The hotkey went down (ignored while busy); the boost key shapes the text
    // for the target application.
    void keyDown(int64_t keyCode);
    // The hotkey came up, or the recording reached its cap.
    void endRecording();
    // The held hotkey came up: ends the recording, and delivers a text that
    // waited for the key.
    void hotkeyReleased();
    // A dictation command from the desktop's own shortcut: start acts as the
    // hotkey going down (the boost key with `boost`) and is ignored while a
    // take runs or the last one is processed; stop as its release; toggle as
    // whichever of the two the moment needs. Answers why nothing was
    // started, empty when the command was carried out.
    std::string runCommand(DictationCommand command, bool boost);
    // An ordinary key that is no hotkey went down: escape cancels the take,
    // and typing early in a modifier hotkey's hold discards it.
    void otherKeyDown(int64_t keyCode);
    // The system ended the recording by itself.
    void recorderStoppedUnexpectedly();
    // The keyboard seems never to report the configured hotkey.
    void hotkeyNeverSeen();

    // Tries the kept take of the last failed dictation again with its kind,
    // delivering into the application in front now. Refused while a take
    // runs or the last one is processed. Answers why it was refused, empty
    // when the retry is on its way.
    std::string retryLastDictation();
    // Lets the kept take go.
    void dismissKeptTake();
    // At launch: drops a kept take too old to matter, and says whether one is left.
    void loadKeptTake();
    // At launch, before the sweep: keeps the take of a dictation that the
    // last exit (a logout, a crash, a kill) cut off after it was recorded,
    // so that it can be retried instead of said again.
    void rescueInterruptedTake();
    // Called when a take comes to be kept or stops being kept.
    std::function<void(bool available)> onRetryAvailableChanged;

    // The application is quitting: the take in progress and its cap timer go.
    void stopForExit();

    // Menu action: puts the last delivered text on the clipboard again.
    void copyLast();
    void setIcon(bool recording);

    // "Ready. Hold fn to dictate · right alt for smart to talk"; a key another
    // application holds is named as taken instead.
    std::string readyLine() const;
    std::string hotkeyName() const;
    // The hotkeys changed outside the settings (the desktop assigned its own
    // shortcuts): the status line says so, unless a dictation or the wait for
    // a permission holds it.
    void refreshReadyLine();
    // Sets the status line (the menu's first item and AppState::status).
    void setStatus(const std::string& text);
    // Shows a short failure on the status line, in the pill for 2.2 s, and in the log.
    void flashError(const std::string& message);

    // Called with every new status line text (the status menu shows it).
    std::function<void(const std::string&)> onStatusLineChanged;

    const Config& config() const { return config_; }
    void setConfig(Config config) { config_ = std::move(config); }
    Recorder& recorder() { return recorder_; }
    bool busy() const { return busy_; }
    const std::string& statusLine() const { return statusLine_; }
    const std::string& lastResult() const { return lastResult_; }

    // The pill's text for a message: at most 58 characters, else cut with "…".
    static std::string overlayText(const std::string& message);

  private:
    // Answers why the recording could not start, empty when it did.
    std::string beginRecording(bool boost);
    // Keeps a take that never reached its text for a retry, and logs
    // "kept WHAT" or why it could not be kept.
    static void keepForRetry(TakeFile take, const std::string& mode, double seconds,
                             const std::string& what);
    void process(TakeFile file, const std::string& prompt);
    void deliver(const DictationPipeline::Result& result);
    void transcriptionFinished(const DictationPipeline::Result& result);
    void heardNothing();
    void transcriptionFailed(const std::string& message, std::shared_ptr<TakeFile> take);
    void setRetryAvailable(bool available);

    Config config_;
    Recorder recorder_;
    bool busy_ = false;
    ScheduledWork capTimer_;
    // Drops a kept take once it is a day old, also in a copy that runs for days.
    ScheduledWork keptTakeTimer_;
    std::string lastResult_;
    bool boosting_ = false;
    std::optional<Smart::Kind> smartKind_;
    std::optional<int32_t> targetApp_;
    uint64_t targetWindow_ = 0;
    std::string targetBundle_;
    std::string targetName_;
    double heldSeconds_ = 0;
    std::string modeUsed_ = "plain";
    std::string statusLine_ = "Idle";
    // The hotkey the monitor reports held, and a finished text waiting for its release.
    std::optional<int64_t> heldKey_;
    std::shared_ptr<DictationPipeline::Result> waitingForRelease_;
    WeakSelf<DictationController> self_;
};

}  // namespace velvox
