#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "config/Config.h"
#include "text/Smart.h"

namespace velvox::DictationPipeline {

// The polishing prompt of one dictation and the mode it is recorded under.
struct Prompt {
    std::string text;
    std::string mode;  // "plain", or the raw value of the kind
};

// Chooses the prompt for the kind (none for the ordinary hotkey), appends the
// user's context block when there is one, and logs the sizes.
Prompt preparePrompt(const Config& config, std::optional<Smart::Kind> kind);

// Polishing runs when it is on or the boost key was used, and there is a way
// to reach a model (the service, or the chosen provider's key).
bool shouldPolish(const Config& config, std::optional<Smart::Kind> kind);

// The text of a finished dictation, before tidy-up.
struct Result {
    std::string text;        // to deliver: polished, or the transcript when not polished
    std::string transcript;  // the corrected transcript
    int64_t spoken = 0;      // words spoken (of the raw transcript)
    // Set when polishing failed and the transcript stands in for the polished text.
    std::optional<std::string> polishFailure;
};

// What processing reports. Every handler may run on the network thread.
struct Handlers {
    std::function<void(const std::string& message)> transcriptionFailed;
    // The transcript was empty after corrections and trimming.
    std::function<void()> heardNothing;
    // Polishing starts (the status can say so while it runs).
    std::function<void()> polishing;
    std::function<void(const Result& result)> finished;
};

enum class AudioFile { deleteWhenTranscribed, keep };

// Transcribes the recording, corrects and trims the transcript, polishes it
// when shouldPolish says so, and reports through exactly one of
// transcriptionFailed, heardNothing or finished. The configuration is the
// copy taken when the recording ended.
void process(const std::string& file, const Config& config, std::optional<Smart::Kind> kind,
             const std::string& prompt, AudioFile audioFile, Handlers handlers);

}  // namespace velvox::DictationPipeline
