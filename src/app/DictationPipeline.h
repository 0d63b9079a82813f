#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "capture/TakeFile.h"
#include "config/Config.h"
#include "text/Smart.h"

namespace velvox::DictationPipeline {

// The polishing prompt of one dictation and the mode it is recorded under.
struct Prompt {
    std::string text;
    std::string mode;  // "plain", or the raw value of the kind
};

// The mode a take of this kind is recorded and kept under: the kind's name, or "plain".
std::string modeOf(std::optional<Smart::Kind> kind);

// Chooses the prompt for the kind (none for the ordinary hotkey), appends the
// user's context block when there is one, and logs the sizes.
Prompt preparePrompt(const Config& config, std::optional<Smart::Kind> kind);

// Polishing runs when it is on or the boost key was used, and there is a way
// to reach a model (the service, or the chosen provider's key).
bool shouldPolish(const Config& config, std::optional<Smart::Kind> kind);

// The text of a finished dictation.
struct Result {
    std::string text;        // polished, or the transcript when not polished
    std::string tidied;      // the text after tidy-up: what is delivered
    std::string transcript;  // the corrected transcript
    int64_t spoken = 0;      // words spoken (of the raw transcript)
    // Set when polishing failed and the transcript stands in for the polished text.
    std::optional<std::string> polishFailure;
    // The recording, still on disk until the text is delivered: a quit or a
    // crash before then leaves it for a retry at the next launch.
    std::shared_ptr<TakeFile> take;
};

// What processing reports. Every handler may run on the network thread.
struct Handlers {
    // The take comes back with the failure, for the caller to keep or let go.
    std::function<void(const std::string& message, std::shared_ptr<TakeFile> take)>
        transcriptionFailed;
    // The transcript was empty after corrections and trimming.
    std::function<void()> heardNothing;
    // Polishing starts (the status can say so while it runs).
    std::function<void()> polishing;
    std::function<void(const Result& result)> finished;
};

// Transcribes the take, corrects and trims the transcript, polishes it when
// shouldPolish says so, tidies the result, and reports through exactly one of
// transcriptionFailed, heardNothing or finished. Once transcribed, the take
// is let go (an owned file is deleted). The configuration is the copy taken
// when the recording ended.
void process(TakeFile take, const Config& config, std::optional<Smart::Kind> kind,
             const std::string& prompt, Handlers handlers);

}  // namespace velvox::DictationPipeline
