#include "Providers.h"

#include <algorithm>
#include <future>

#include "ServiceLog.h"
#include "base/Strings.h"
#include "services/Answers.h"
#include "services/Multipart.h"

namespace velvox::service {

namespace {

const char* const kTranscriptionModel = "whisper-large-v3-turbo";
const char* const kGroqPolishModel = "openai/gpt-oss-120b";
const char* const kAnthropicPolishModel = "claude-3-5-haiku-latest";
// A transcript of 25 MB of speech, or its polish, is far smaller: what is
// larger is no answer of the provider's, and is not held whole.
constexpr size_t kMaxProviderAnswerBytes = 4 * 1024 * 1024;

ProviderResult failure(const char* provider, const HttpResult& result) {
    if (const auto* error = std::get_if<TransportError>(&result)) {
        ServiceLog::write(std::string(provider) + " unreachable: " + error->message);
        return {};
    }
    int status = std::get<HttpResponse>(result).status;
    ServiceLog::write(std::string(provider) + " answered " + std::to_string(status));
    if (status == 413) return {ProviderResult::Kind::tooLarge, {}};
    if (status == 400 || status == 422) return {ProviderResult::Kind::badInput, {}};
    return {};
}

bool succeeded(const HttpResult& result) {
    const auto* response = std::get_if<HttpResponse>(&result);
    return response && response->status >= 200 && response->status <= 299;
}

const std::string& bodyOf(const HttpResult& result) {
    return std::get<HttpResponse>(result).body;
}

}  // namespace

Providers::Providers(const Settings& settings, std::shared_ptr<HttpClient> client)
    : settings_(settings), client_(std::move(client)) {}

HttpResult Providers::exchange(HttpRequest request) {
    std::promise<HttpResult> answer;
    auto arrived = answer.get_future();
    client_->send(std::move(request),
                  [&answer](HttpResult result) { answer.set_value(std::move(result)); });
    return arrived.get();
}

ProviderResult Providers::transcribe(const std::string& audio,
                                     const std::vector<std::string>& vocabulary) {
    std::string boundary = Multipart::makeBoundary();
    HttpRequest request;
    request.url = settings_.groqBase + "/openai/v1/audio/transcriptions";
    request.timeoutSeconds = settings_.providerTimeoutSeconds;
    request.maxResponseBytes = kMaxProviderAnswerBytes;
    request.headers = {{"Authorization", "Bearer " + settings_.groqKey},
                       {"Content-Type", "multipart/form-data; boundary=" + boundary}};
    request.body =
        Multipart::transcriptionForm(boundary, kTranscriptionModel, vocabulary, audio, "verbose_json");
    auto result = exchange(std::move(request));
    if (!succeeded(result)) return failure("Groq", result);
    auto answer = Answers::object(bodyOf(result));
    auto text = answer ? Answers::stringMember(*answer, "text") : std::nullopt;
    if (!text) return failure("Groq", HttpResponse{502, {}});
    auto duration = answer->find("duration");
    double seconds = duration != answer->end() && duration->is_number() ? duration->get<double>() : 0;
    return {ProviderResult::Kind::text, Strings::trim(*text), std::max(seconds, 0.0)};
}

ProviderResult Providers::polish(const std::string& system, const std::string& text,
                                 int maxTokens) {
    HttpRequest request;
    request.timeoutSeconds = settings_.providerTimeoutSeconds;
    request.maxResponseBytes = kMaxProviderAnswerBytes;
    nlohmann::json body;
    const bool anthropic = !settings_.anthropicKey.empty();
    if (anthropic) {
        request.url = settings_.anthropicBase + "/v1/messages";
        request.headers = {{"x-api-key", settings_.anthropicKey},
                           {"anthropic-version", "2023-06-01"},
                           {"Content-Type", "application/json"}};
        body = {{"model", kAnthropicPolishModel},
                {"max_tokens", maxTokens},
                {"temperature", 0.2},
                {"system", system},
                {"messages", nlohmann::json::array({{{"role", "user"}, {"content", text}}})}};
    } else {
        request.url = settings_.groqBase + "/openai/v1/chat/completions";
        request.headers = {{"Authorization", "Bearer " + settings_.groqKey},
                           {"Content-Type", "application/json"}};
        body = {{"model", kGroqPolishModel},
                {"temperature", 0.2},
                {"max_tokens", maxTokens},
                {"messages", nlohmann::json::array({{{"role", "system"}, {"content", system}},
                                                    {{"role", "user"}, {"content", text}}})}};
    }
    auto serialised = Answers::serialise(body);
    if (!serialised) return {ProviderResult::Kind::badInput, {}};
    request.body = std::move(*serialised);
    const char* provider = anthropic ? "Anthropic" : "Groq";
    auto result = exchange(std::move(request));
    if (!succeeded(result)) return failure(provider, result);

    auto answer = Answers::object(bodyOf(result));
    std::string rewrite;
    if (answer && anthropic && answer->contains("content") && (*answer)["content"].is_array()) {
        for (const auto& block : (*answer)["content"])
            if (block.is_object() && block.contains("text") && block["text"].is_string())
                rewrite += block["text"].get<std::string>();
    } else if (answer && !anthropic && answer->contains("choices") &&
               (*answer)["choices"].is_array() && !(*answer)["choices"].empty()) {
        const auto& message = (*answer)["choices"][0]["message"];
        if (message.is_object() && message.contains("content") && message["content"].is_string())
            rewrite = message["content"].get<std::string>();
    }
    rewrite = Strings::trim(rewrite);
    if (rewrite.empty()) return failure(provider, HttpResponse{502, {}});
    return {ProviderResult::Kind::text, rewrite};
}

}  // namespace velvox::service
