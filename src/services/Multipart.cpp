#include "services/Multipart.h"

#include "base/Uuid.h"

namespace velvox::Multipart {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

void appendField(std::string& body, const std::string& boundary, std::string_view name,
                 std::string_view value) {
    body.append("--").append(boundary).append(kLineEnd);
    body.append("Content-Disposition: form-data; name=\"")
        .append(name)
        .append("\"")
        .append(kLineEnd);
    body.append(kLineEnd);
    body.append(value).append(kLineEnd);
}

}  // namespace

std::string makeBoundary() {
    return "----orvo" + makeUuid(UuidCase::upper);
}

std::string joinedVocabulary(const std::vector<std::string>& vocabulary) {
    std::string joined;
    for (const auto& entry : vocabulary) {
        if (!joined.empty() || &entry != &vocabulary.front()) joined += ", ";
        for (char c : entry) joined += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return joined;
}

std::string transcriptionForm(const std::string& boundary, const std::string& model,
                              const std::vector<std::string>& vocabulary, AudioPart audio,
                              std::string_view format) {
    std::string body;
    body.reserve(audio.bytes.size() + 1024 + model.size() + 64 * vocabulary.size());
    appendField(body, boundary, "model", model);
    appendField(body, boundary, "response_format", format);
    appendField(body, boundary, "temperature", "0");
    if (!vocabulary.empty()) appendField(body, boundary, "prompt", joinedVocabulary(vocabulary));
    body.append("--").append(boundary).append(kLineEnd);
    body.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
        .append(audio.wav ? "audio.wav" : "audio.m4a")
        .append("\"")
        .append(kLineEnd);
    body.append("Content-Type: ").append(audio.wav ? "audio/wav" : "audio/mp4").append(kLineEnd);
    body.append(kLineEnd);
    body.append(audio.bytes).append(kLineEnd);
    body.append("--").append(boundary).append("--").append(kLineEnd);
    return body;
}

}  // namespace velvox::Multipart
