#include "capture/Recorder.h"

#include <algorithm>
#include <cmath>

#include "base/Log.h"
#include "capture/InputLevel.h"
#include "capture/TakeFiles.h"
#include "platform/Platform.h"

namespace velvox {

namespace {

// AAC at 16 kHz mono, 32 kbit/s: small files that speech recognition reads well.
const AudioSettings kTakeSettings{AudioFormat::mpeg4Aac, 16000.0, 1, 32000};

// Runs one of the owner's callbacks on the main queue, if the owner still lives.
void post(const WeakSelf<Recorder>::Ref& owner, std::function<void()> Recorder::*callback) {
    Platform::mainQueue().async([owner, callback] {
        Recorder* alive = owner.get();
        if (!alive) return;
        auto call = alive->*callback;
        if (call) call();
    });
}

}  // namespace

Recorder::Recorder() : self_(this) {}

Recorder::~Recorder() {
    discard();
}

bool Recorder::start(const std::string& inputDevice) {
    discard();
    std::string error;
    std::optional<std::string> file = TakeFiles::createTakeFile(error);
    if (!file) {
        Log::error("recorder failed: " + error);
        return false;
    }
    const std::string& path = *file;
    AudioSettings settings = kTakeSettings;
    settings.inputDevice = inputDevice;
    NewAudioTake made = Platform::audioInput().makeTake(path, settings);
    if (!made.take) {
        TakeFiles::removeQuietly(path);
        Log::error("recorder failed: " + made.error);
        return false;
    }
    made.take->setEvents(events());
    if (!made.take->record()) {
        made.take->setEvents({});
        made.take.reset();
        TakeFiles::removeQuietly(path);
        Log::error("record() refused to start, mic may be in use by another app");
        return false;
    }
    take_ = std::move(made.take);
    fileURL_ = path;
    // The readings are taken here, not by whoever shows the level: the take's
    // loudness must be known even when nothing is drawn.
    loudestPower_ = -std::numeric_limits<double>::infinity();
    meter_ = Platform::mainQueue().repeating(kMeterInterval, [owner = self_.ref()] {
        if (Recorder* alive = owner.get()) alive->takeReading();
    });
    return true;
}

std::optional<std::string> Recorder::stop() {
    return end(true);
}

std::optional<std::string> Recorder::end(bool reportUnfinished) {
    if (!take_) return std::nullopt;
    meter_.cancel();
    takeReading();
    double recorded = take_->currentTime();
    bool wasRecording = take_->isRecording();
    // Without events, a take ended on purpose never looks like one the system ended.
    take_->setEvents({});
    bool complete = take_->stop();
    take_.reset();
    std::optional<std::string> path = std::move(fileURL_);
    fileURL_.reset();
    if (path && recorded > 0 && complete) return path;
    if (path) TakeFiles::removeQuietly(*path);
    if (reportUnfinished && wasRecording && recorded > 0 && !complete) {
        // Sound was captured but cannot be handed over: say so rather than
        // let the press pass for one too short to count.
        Log::error("recording stopped by the system, successfully: false");
        post(self_.ref(), &Recorder::onUnexpectedStop);
    }
    return std::nullopt;
}

void Recorder::discard() {
    if (auto path = end(false)) TakeFiles::removeQuietly(*path);
}

bool Recorder::isRecording() const {
    return take_ && take_->isRecording();
}

double Recorder::level() const {
    if (!take_ || !take_->isRecording()) return 0;
    return inputLevel(static_cast<double>(take_->averagePower()));
}

void Recorder::takeReading() {
    if (!take_ || !take_->isRecording()) return;
    double power = static_cast<double>(take_->averagePower());
    if (!std::isnan(power)) loudestPower_ = std::max(loudestPower_, power);
}

double Recorder::elapsed() const {
    return take_ ? take_->currentTime() : 0;
}

void Recorder::sweepTempFiles() {
    int found = TakeFiles::sweep();
    if (found >= 1) Log::write("swept " + std::to_string(found) + " stale audio files");
}

AudioTakeEvents Recorder::events() {
    // These may run on any thread: they only log and hop to the main queue.
    WeakSelf<Recorder>::Ref owner = self_.ref();
    AudioTakeEvents events;
    events.finishedBySystem = [owner](bool successfully) {
        Log::error(std::string("recording stopped by the system, successfully: ") +
                   (successfully ? "true" : "false"));
        post(owner, &Recorder::onUnexpectedStop);
    };
    events.encodeError = [owner](std::optional<std::string> description) {
        Log::error("audio encode error: " + description.value_or("unknown"));
        post(owner, &Recorder::onUnexpectedStop);
    };
    events.inputEnded = [owner] { post(owner, &Recorder::onInputEnded); };
    return events;
}

}  // namespace velvox
