#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velvox::Multipart {

// The audio of a transcription form, as the server is told of it: the
// recording as it is (audio.m4a) or made into WAV (audio.wav).
struct AudioPart {
    AudioPart(std::string_view bytes, bool wav = false) : bytes(bytes), wav(wav) {}
    AudioPart(const std::string& bytes, bool wav = false) : bytes(bytes), wav(wav) {}
    std::string_view bytes;
    bool wav;
};

// A fresh boundary for one request: "----orvo" and an upper-case UUID.
std::string makeBoundary();

// The multipart/form-data body of a transcription: model, response_format,
// temperature, prompt (only with a vocabulary), then the audio.
// "verbose_json" answers with the audio's duration beside the text.
std::string transcriptionForm(const std::string& boundary, const std::string& model,
                              const std::vector<std::string>& vocabulary, AudioPart audio,
                              std::string_view format = "json");

// Vocabulary entries joined with ", ", line breaks turned into spaces so that
// the text can also travel in a header.
std::string joinedVocabulary(const std::vector<std::string>& vocabulary);

}  // namespace velvox::Multipart
