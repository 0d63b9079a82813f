#include <memory>
#include <thread>

#include "base/Files.h"
#include "base/Log.h"
#include "base/Strings.h"
#include "platform/AudioDecoder.h"
#include "services/API.h"
#include "services/Answers.h"
#include "services/CustomServer.h"
#include "services/Multipart.h"
#include "services/Wav.h"

namespace velvox::API {

namespace {

constexpr double kTranscriptionTimeoutSeconds = 60;

// The recording's bytes, or what keeps them from being read, said about the
// file: no service was asked, so no answer of one is to blame.
APIError unreadable(const std::string& reason) {
    return APIError::message("Recording could not be read (" + reason + ")");
}

ServiceResult<std::string> readRecording(const std::string& file) {
    if (auto audio = Files::read(file)) return std::move(*audio);
    return unreadable(Files::whyUnreadable(file).value_or("empty"));
}

// The multipart form of a transcription, with its boundary in the request's type.
void attachForm(HttpRequest& request, const Config& config, Multipart::AudioPart audio) {
    std::string boundary = Multipart::makeBoundary();
    request.headers.push_back({"Content-Type", "multipart/form-data; boundary=" + boundary});
    request.body =
        Multipart::transcriptionForm(boundary, config.transcribeModel, config.vocabulary, audio);
}

// The recording made into WAV off the caller's thread (a minute of speech
// takes some 15 ms to decode), handed to `then` there.
void asWavAside(const std::string& file, std::function<void(ServiceResult<std::string>)> then) {
    std::thread([file, then = std::move(then)] {
        auto samples = Platform::audioDecoder().decode(file);
        // The decoder's reason reads "could not decode the recording: ...".
        if (!samples.ok())
            return then(
                APIError::message("The transcription server needs WAV, and " + samples.error()));
        then(Wav::fromPcm16(samples.value(), AudioDecoder::kSampleRate, AudioDecoder::kChannels));
    }).detach();
}

std::optional<std::string> transcriptOf(const nlohmann::json& answer) {
    return Answers::stringMember(answer, "text");
}

// One transcription on its way to a server of the user's own.
struct CustomUpload {
    CustomServer::Server server;
    Config config;
    std::string file;
    TextCompletion completion;
};

// Seconds of speech in an upload: the recorder writes 32 kbit/s AAC, and WAV
// is 16 kHz of 16-bit samples. A file from elsewhere may be off by a few
// times, which only makes the wait longer or shorter.
double speechSeconds(const std::string& audio, bool wav) {
    constexpr double kAacBytesPerSecond = 4000, kWavBytesPerSecond = 32000;
    return static_cast<double>(audio.size()) / (wav ? kWavBytesPerSecond : kAacBytesPerSecond);
}

void sendToCustom(std::shared_ptr<CustomUpload> upload, std::string audio, bool wav,
                  bool fallingBack) {
    double timeout = CustomServer::timeoutSeconds(speechSeconds(audio, wav), upload->config);
    HttpRequest request =
        CustomServer::request(upload->server, "/v1/audio/transcriptions", timeout);
    attachForm(request, upload->config, {audio, wav});
    bool mayFallBack = !wav && upload->config.transcribeUploadFormat == "auto";
    exchange(std::move(request),
             [upload, mayFallBack, fallingBack, timeout](ServiceResult<HttpResponse> result) {
                 if (!result.ok())
                     return upload->completion(
                         CustomServer::unreachable(upload->server, result.error(), timeout));
                 if (mayFallBack && CustomServer::refusesAudio(result.value())) {
                     // Once: the same recording again as WAV, which every server reads.
                     return asWavAside(upload->file, [upload](ServiceResult<std::string> made) {
                         if (!made.ok()) return upload->completion(made.error());
                         sendToCustom(upload, std::move(made.value()), true, true);
                     });
                 }
                 auto text = CustomServer::textOf(upload->server, result.value(), transcriptOf);
                 if (!text.ok()) return upload->completion(text.error());
                 if (fallingBack) CustomServer::rememberWants(upload->server);
                 upload->completion(Strings::trim(text.value()));
             });
}

}  // namespace

void transcribeWithCustom(const std::string& file, Config config, TextCompletion completion) {
    auto server = CustomServer::of(config, CustomServer::Step::transcription);
    if (!server.ok()) return completion(APIError::message(server.error()));
    bool wav = CustomServer::wantsWav(config, server.value());
    auto upload = std::make_shared<CustomUpload>(
        CustomUpload{std::move(server.value()), std::move(config), file, std::move(completion)});
    if (!wav) {
        auto audio = readRecording(file);
        if (!audio.ok()) return upload->completion(audio.error());
        return sendToCustom(upload, std::move(audio.value()), false, false);
    }
    if (auto reason = Files::whyUnreadable(file)) return upload->completion(unreadable(*reason));
    asWavAside(file, [upload](ServiceResult<std::string> made) {
        if (!made.ok()) return upload->completion(made.error());
        sendToCustom(upload, std::move(made.value()), true, false);
    });
}

void transcribe(const std::string& file, Config config, TextCompletion completion) {
    if (usesService(config)) {
        transcribeViaService(file, std::move(config), std::move(completion));
    } else if (config.transcribeProvider == "custom") {
        transcribeWithCustom(file, std::move(config), std::move(completion));
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
    HttpRequest request;
    request.method = "POST";
    request.url = groqBase() + "/openai/v1/audio/transcriptions";
    request.timeoutSeconds = kTranscriptionTimeoutSeconds;
    request.headers = {{"Authorization", "Bearer " + config.groqApiKey}};
    attachForm(request, config, audio.value());
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
