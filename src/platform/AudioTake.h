#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velvox {

// Core Audio's format identifier of MPEG-4 AAC ('aac '), the only format used.
enum class AudioFormat : uint32_t { mpeg4Aac = 1633772320 };

// How a take is encoded. The file is an MPEG-4 audio file (.m4a).
struct AudioSettings {
    AudioFormat format = AudioFormat::mpeg4Aac;
    double sampleRate = 16000.0;
    int channels = 1;
    int bitRate = 32000;  // bits per second
    // The sound server's name of the input to record; empty for the default.
    std::string inputDevice;
};

// A microphone the sound server offers.
struct InputDevice {
    std::string name;         // what AudioSettings::inputDevice holds
    std::string description;  // what the user is shown
};

// What a take reports when it ends without being asked to. Any of them may be
// called on any thread.
struct AudioTakeEvents {
    // The take ended without a usable file (nothing was captured yet, another
    // application seized the input, the file could not be written).
    std::function<void(bool successfully)> finishedBySystem;
    // The description of the failure, when the system gave one.
    std::function<void(std::optional<std::string> errorDescription)> encodeError;
    // The input changed or went away after sound had been captured: the file
    // was finished with what came before, and the take stays recording until
    // stop() hands it over.
    std::function<void()> inputEnded;
};

// One recording of the default input into one file, with an input meter.
// Every member is called on the main thread.
class AudioTake {
  public:
    virtual ~AudioTake() = default;

    // Starts writing the file; false when the input could not be started
    // (typically another application holds it).
    virtual bool record() = 0;
    // True from a successful record() until stop() or until the system ends
    // it; a take whose input ended with sound captured still counts.
    virtual bool isRecording() = 0;
    // Seconds recorded so far.
    virtual double currentTime() = 0;
    // A fresh reading of the average input power of the first channel, in
    // decibels relative to full scale (0 is loudest; silence may be -infinity).
    virtual float averagePower() = 0;
    // Replaces the event functions; empty functions report nothing. Once this
    // returns, the previous functions are neither running nor called again.
    virtual void setEvents(AudioTakeEvents events) = 0;
    // Ends the take and completes the file without waiting for the input.
    // Reports no event. False when the file could not be completed.
    virtual bool stop() = 0;
};

// A new take, or why none could be made.
struct NewAudioTake {
    std::unique_ptr<AudioTake> take;
    std::string error;  // a readable description when take is empty
};

// The microphone side of the system: makes takes.
class AudioInput {
  public:
    virtual ~AudioInput() = default;
    // Prepares a take that will write to the file at path (which it may create
    // at once) with the settings; recording begins with record(). A named
    // input that is missing is replaced by the default, with one log line.
    virtual NewAudioTake makeTake(const std::string& path, const AudioSettings& settings) = 0;
    // The inputs that record sound (not the outputs' monitors), in the sound
    // server's order; empty when none can be listed.
    virtual std::vector<InputDevice> inputDevices() = 0;
};

namespace Platform {
AudioInput& audioInput();
void installAudioInput(std::shared_ptr<AudioInput> input);
}  // namespace Platform

}  // namespace velvox
