#pragma once

// What the loopback stand-in for Groq answers in the program's end-to-end
// tests and benchmark: a transcript of the spoken sentence and its polish.
#include <nlohmann/json.hpp>

#include "support/LoopbackServer.h"

namespace velvox::testing {

inline const std::string kSpoken =
    "so the quarterly report is ready and i will send it to amara "
    "tomorrow morning before the team meeting starts";
inline const std::string kPolished =
    "So the quarterly report is ready, and I will send it to Amara "
    "tomorrow morning before the team meeting starts.";
inline const std::string kTranscriptionPath = "/openai/v1/audio/transcriptions";
inline const std::string kPolishPath = "/openai/v1/chat/completions";

// The bodies of Groq's answers: the transcript of the spoken sentence, its polish.
inline std::string spokenAnswer() {
    return nlohmann::json{{"text", kSpoken}}.dump();
}
inline std::string polishedAnswer() {
    return nlohmann::json{
        {"choices", {{{"message", {{"role", "assistant"}, {"content", kPolished}}}}}}}
        .dump();
}

inline void answerLikeGroq(LoopbackServer& groq) {
    groq.answer(kTranscriptionPath, 200, spokenAnswer());
    groq.answer(kPolishPath, 200, polishedAnswer());
}

}  // namespace velvox::testing
