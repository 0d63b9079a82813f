#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "app/DictationPipeline.h"
#include "base/WeakSelf.h"
#include "capture/DictationCommand.h"
#include "capture/Recorder.h"
#include "config/Config.h"
#include "delivery/DeliveryOutcome.h"
#include "platform/MainQueue.h"
#include "platform/Workspace.h"
#include "text/Smart.h"

namespace velvox {

class HotkeyMonitor;

// Runs one dictation from the hotkey going down to the text landing in the
// application that was in front: recording, transcription, corrections,
// polishing, tidy-up, history and statistics, delivery, and the status line
// and pill along the way. Main thread only, except where the network answers.
//
// At rest there is no recording and nothing is busy; a key-down starts a
// recording; the key-up (or the recording cap) hands it to processing, during
// which further key-downs are ignored; a text made while an ordinary hotkey is
// still held waits for its release; delivery or a failure returns to rest.
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
    // Processing a take, or holding its text for the key's release.
    bool busy() const {
        return std::holds_alternative<Processing>(state_) ||
               std::holds_alternative<WaitingForRelease>(state_);
    }
    const std::string& statusLine() const { return statusLine_; }
    const std::string& lastResult() const { return lastResult_; }

    // The pill's text for a message: at most 58 characters, else cut with "…".
    static std::string overlayText(const std::string& message);

  private:
    // Where a dictation's text goes: the application in front when the
    // dictation began (none when nothing was), with its focused window.
    struct Target {
        // Its name is never empty: an unnamed application is "Unknown".
        std::optional<RunningApplication> app;

        static Target frontmost();
        std::optional<int32_t> processId() const;
        std::string bundle() const;
        std::string name() const;
    };
    // One dictation from its start to its delivery: where the text goes, and
    // the kind it is shaped into (none for the ordinary hotkey).
    struct Dictation {
        Target target;
        std::optional<Smart::Kind> kind;
    };

    // Nothing recorded, nothing being made.
    struct Idle {};
    // The recorder holds the take (it has a session exactly in this state).
    struct Recording {
        Dictation dictation;
        // Ends the take at the length cap; going out of this state cancels it.
        ScheduledWork capTimer;
    };
    // The take is on its way to a text: transcription, polishing, or a retry
    // of a kept take.
    struct Processing {
        Dictation dictation;
        double seconds = 0;  // recorded, for the statistics and a kept take
    };
    // The text is made, but the ordinary hotkey that the cap cut short is
    // still held: a paste now would not reach the target.
    struct WaitingForRelease {
        Processing processed;
        DictationPipeline::Result result;
    };
    using State = std::variant<Idle, Recording, Processing, WaitingForRelease>;

    // Answers why the recording could not start, empty when it did.
    std::string beginRecording(bool boost);
    // Lets the take in progress and its file go, and comes to rest.
    void dropTake();
    // Keeps a take that never reached its text for a retry, and logs
    // "kept WHAT" or why it could not be kept.
    static void keepForRetry(TakeFile take, const std::string& mode, double seconds,
                             const std::string& what);
    void process(TakeFile file, std::optional<Smart::Kind> kind, const std::string& prompt);
    // What a take's start or end shows: the pill, the tray and the status
    // line, one per turn of the main loop while `due` holds, so that
    // together they hold up nothing else the loop has to do (a key, a frame
    // of the level meter). Each redraws or messages another process.
    using Step = std::function<void(DictationController&)>;
    void followInTurns(std::function<bool(const DictationController&)> due, std::vector<Step> steps,
                       size_t next = 0);
    void showListeningPill();
    // Delivers the text of the take and comes to rest.
    void deliver(const Processing& processed, const DictationPipeline::Result& result);
    void delivered(const DeliveryOutcome& outcome, bool polishFailed);
    void transcriptionFinished(const DictationPipeline::Result& result);
    void heardNothing();
    void transcriptionFailed(const std::string& message, std::shared_ptr<TakeFile> take);
    void setRetryAvailable(bool available);

    Config config_;
    Recorder recorder_;
    State state_;
    // Drops a kept take once it is a day old, also in a copy that runs for days.
    ScheduledWork keptTakeTimer_;
    std::string lastResult_;
    // The kind of the latest take to start: failures flash in its colour,
    // also those reported once it has come to rest (a paste that fails late).
    std::optional<Smart::Kind> latestKind_;
    uint64_t takes_ = 0;  // counts takes begun, so a late pill knows its own
    std::string statusLine_ = "Idle";
    // The hotkey the monitor reports held. It belongs to the keyboard, not to
    // a take: a key pressed while busy is still held at rest, and a take a
    // command started may see one go down.
    std::optional<int64_t> heldKey_;
    WeakSelf<DictationController> self_;
};

}  // namespace velvox
