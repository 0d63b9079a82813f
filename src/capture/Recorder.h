#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "base/WeakSelf.h"
#include "platform/AudioTake.h"
#include "platform/MainQueue.h"

namespace velvox {

// Records the microphone into one short AAC file per take, reports the live
// input level, hands the finished file over, and clears away takes that
// earlier runs left in the temporary folder. Permission to record is the
// caller's business. Every member is called on the main thread.
class Recorder {
  public:
    Recorder();
    // A take still in progress is discarded with its file.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Called on the main queue when the system ends a take by itself (input
    // seized or gone, encoder failure). The take stays open (hasSession() true,
    // isRecording() false) until stop() or discard(). Never called for a
    // take ended by stop() or discard().
    std::function<void()> onUnexpectedStop;
    // Called on the main queue when the input changed (another microphone
    // became the default) or went away after sound was captured. The take's
    // file holds what came before and stop() hands it over as usual.
    std::function<void()> onInputEnded;

    // Begins a new take from the named input (empty: the default), discarding
    // any take in progress first. True when the microphone is being
    // recorded; on false the reason is in the log.
    bool start(const std::string& inputDevice = {});
    // Ends the take. Answers the path of its file, which then belongs to the
    // caller, or nothing when idle or when nothing was recorded (that file is
    // deleted). A take with sound whose file cannot be completed is reported
    // through onUnexpectedStop.
    std::optional<std::string> stop();
    // Ends the take and deletes its file.
    void discard();

    bool isRecording() const;
    // A take was started and not yet stopped, even if the system has halted it.
    bool hasSession() const { return take_ != nullptr; }
    // The path of the file of the take in progress.
    const std::optional<std::string>& fileURL() const { return fileURL_; }
    // The current input level from 0 to 1; 0 when not recording.
    double level() const;
    // Seconds recorded so far in this take; 0 when idle.
    double elapsed() const;
    // The loudest input power of the last take, in decibels (the readings
    // taken every kMeterInterval while it recorded, and one at its end);
    // -infinity when it heard nothing at all. Kept until the next start().
    double loudestPower() const { return loudestPower_; }
    static constexpr double kMeterInterval = 0.05;

    // Deletes takes that earlier runs left behind; logs how many it found.
    static void sweepTempFiles();

  private:
    std::optional<std::string> end(bool reportUnfinished);
    AudioTakeEvents events();
    void takeReading();

    std::unique_ptr<AudioTake> take_;
    std::optional<std::string> fileURL_;
    double loudestPower_ = -std::numeric_limits<double>::infinity();
    ScheduledWork meter_;
    WeakSelf<Recorder> self_;
};

}  // namespace velvox
