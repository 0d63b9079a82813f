#pragma once

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioTake.h"

namespace velvox::testing {

// What the test sees of one take and drives it with, shared with the take
// itself (which the recorder owns).
struct FakeTakeState {
    std::string path;
    std::atomic<bool> recording{false};
    bool stopped = false;
    bool destroyed = false;
    double currentTime = 0;
    float averagePower = -20.0f;  // someone speaking, unless a test says otherwise
    bool completesFile = true;    // what stop() answers
    // The system ends the take on its own, as a lost device would, or the encoder fails; or
    // the input changes or goes away, and the file keeps what came before. Safe to call from
    // another thread, like the real events.
    void finishBySystem(bool successfully) { fire(true, events.finishedBySystem, successfully); }
    void failEncoding(std::optional<std::string> why) { fire(true, events.encodeError, why); }
    void endInput() { fire(false, events.inputEnded); }
    template <typename Handler, typename... Args>
    void fire(bool ends, const Handler& handler, Args&&... args) {
        std::lock_guard lock(eventsMutex);
        if (ends) recording = false;
        if (handler) handler(std::forward<Args>(args)...);
    }
    bool hasEvents() {
        std::lock_guard lock(eventsMutex);
        return events.finishedBySystem || events.encodeError || events.inputEnded;
    }
    std::mutex eventsMutex;
    AudioTakeEvents events;
};

class FakeAudioTake final : public AudioTake {
  public:
    FakeAudioTake(std::shared_ptr<FakeTakeState> state, bool recordSucceeds,
                  std::shared_ptr<std::vector<std::string>> calls)
        : state_(std::move(state)), recordSucceeds_(recordSucceeds), calls_(std::move(calls)) {}
    ~FakeAudioTake() override { state_->destroyed = true; }
    bool record() override {
        calls_->push_back("record");
        return state_->recording = recordSucceeds_;
    }
    bool isRecording() override { return state_->recording; }
    double currentTime() override { return state_->currentTime; }
    float averagePower() override { return state_->averagePower; }
    void setEvents(AudioTakeEvents events) override {
        bool any = events.finishedBySystem || events.encodeError || events.inputEnded;
        calls_->push_back(any ? "setEvents" : "clearEvents");
        std::lock_guard lock(state_->eventsMutex);
        state_->events = std::move(events);
    }
    bool stop() override {
        calls_->push_back("stop");
        state_->recording = false, state_->stopped = true;
        return state_->completesFile;
    }

  private:
    std::shared_ptr<FakeTakeState> state_;
    bool recordSucceeds_;
    std::shared_ptr<std::vector<std::string>> calls_;
};

// A microphone that makes fake takes. Like a real one it creates the file at once, also
// when the take then fails, so a test can see that the file is cleaned up.
class FakeAudioInput final : public AudioInput {
  public:
    NewAudioTake makeTake(const std::string& path, const AudioSettings& settings) override {
        calls_->push_back(
            "makeTake format " + std::to_string(static_cast<uint32_t>(settings.format)) + ", " +
            std::to_string(static_cast<int>(settings.sampleRate)) + " Hz, " +
            std::to_string(settings.channels) + " channel, " + std::to_string(settings.bitRate) +
            " bit/s" + (settings.inputDevice.empty() ? "" : " from " + settings.inputDevice));
        std::ofstream(path, std::ios::binary) << "m4a";
        auto& state = takes.emplace_back(std::make_shared<FakeTakeState>());
        state->path = path;
        if (creationError) return {nullptr, *creationError};
        return {std::make_unique<FakeAudioTake>(state, recordSucceeds, calls_), ""};
    }
    std::vector<InputDevice> inputDevices() override { return devices; }
    std::shared_ptr<FakeTakeState> lastTake() const {
        return takes.empty() ? nullptr : takes.back();
    }
    const std::vector<std::string>& calls() const { return *calls_; }
    // When set, makeTake fails with this description.
    std::optional<std::string> creationError;
    bool recordSucceeds = true;
    std::vector<std::shared_ptr<FakeTakeState>> takes;
    std::vector<InputDevice> devices;

  private:
    std::shared_ptr<std::vector<std::string>> calls_ = std::make_shared<std::vector<std::string>>();
};

}  // namespace velvox::testing
