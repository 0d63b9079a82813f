#include "base/Files.h"
#include "base/Log.h"
#include "base/Strings.h"
#include "services/API.h"
#include "services/Answers.h"
#include "services/Multipart.h"

namespace velvox::API {

namespace {

constexpr double kTranscriptionTimeoutSeconds = 60;

}  // namespace

namespace {

// The recording's bytes, or what keeps them from being read, said about the
// file: no service was asked, so no answer of one is to blame.
ServiceResult<std::string> readRecording(const std::string& file) {
    if (auto audio = Files::read(file)) return std::move(*audio);
    return APIError::message("Recording could not be read (" +
                             Files::whyUnreadable(file).value_or("empty") + ")");
}

}  // namespace

void transcribe(const std::string& file, Config config, TextCompletion completion) {
    if (usesService(config)) {
        transcribeViaService(file, std::move(config), std::move(completion));
    } else {
        transcribeWithGroq(file, std::move(config), std::move(completion));
    }
}

void transcribeViaService(const std::string& file, Config config, TextCompletion completion) {
    auto audio = readRecording(file);
    if (!audio.ok()) return completion(audio.error());
    auto request = serviceRequest("/transcribe", config);
    if (!request) return completion(APIError::badResponse());
    request->headers.push_back({"Content-Type", "application/octet-stream"});
    if (!config.vocabulary.empty()) {
        request->headers.push_back(
            {"X-Velvox-Vocab", Multipart::joinedVocabulary(config.vocabulary)});
    }
    request->body = std::move(audio.value());
    send(std::move(*request),
         [completion = std::move(completion)](ServiceResult<std::string> result) {
             if (!result.ok()) return completion(serviceError(result.error()));
             auto answer = Answers::object(result.value());
             auto text = answer ? Answers::stringMember(*answer, "text") : std::nullopt;
             if (!text) return completion(APIError::badResponse());
             auto used = Answers::integerMember(*answer, "used");
             auto cap = Answers::integerMember(*answer, "cap");
             if (used && cap) {
                 Log::write("allowance " + std::to_string(*used) + " of " + std::to_string(*cap) +
                            " words this week");
             }
             completion(Strings::trim(*text));
         });
}

void transcribeWithGroq(const std::string& file, Config config, TextCompletion completion) {
    if (config.groqApiKey.empty()) return completion(APIError::noKey("Groq"));
    auto audio = readRecording(file);
    if (!audio.ok()) return completion(audio.error());
    std::string boundary = Multipart::makeBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = groqBase() + "/openai/v1/audio/transcriptions";
    request.timeoutSeconds = kTranscriptionTimeoutSeconds;
    request.headers = {{"Authorization", "Bearer " + config.groqApiKey},
                       {"Content-Type", "multipart/form-data; boundary=" + boundary}};
    request.body = Multipart::transcriptionForm(boundary, config.transcribeModel, config.vocabulary,
                                                audio.value());
    send(std::move(request),
         [completion = std::move(completion)](ServiceResult<std::string> result) {
             if (!result.ok()) return completion(result.error());
             auto answer = Answers::object(result.value());
             auto text = answer ? Answers::stringMember(*answer, "text") : std::nullopt;
             if (!text) return completion(APIError::badResponse());
             completion(Strings::trim(*text));
         });
}

}  // namespace velvox::API
