#include <memory>

#include "base/Strings.h"
#include "services/API.h"
#include "services/Answers.h"
#include "services/CustomServer.h"

namespace velvox::API {

namespace {

constexpr double kPolishTimeoutSeconds = 60;
constexpr int kMaxTokens = 2048;
constexpr double kTemperature = 0.2;

std::string wrapped(const std::string& text) {
    return "<transcript>\n" + text + "\n</transcript>";
}

// The model's answer, trimmed; an empty one is no answer.
TextResult nonEmpty(const std::string& text) {
    std::string trimmed = Strings::trim(text);
    if (trimmed.empty()) return APIError::badResponse();
    return trimmed;
}

// The first choice's message content, untrimmed, in an OpenAI-style chat answer.
std::optional<std::string> chatContent(const nlohmann::json& answer) {
    auto choices = answer.find("choices");
    if (choices == answer.end() || !choices->is_array() || choices->empty()) return std::nullopt;
    const auto& first = choices->front();
    if (!first.is_object()) return std::nullopt;
    auto message = first.find("message");
    if (message == first.end() || !message->is_object()) return std::nullopt;
    return Answers::stringMember(*message, "content");
}

TextResult groqContent(const std::string& body) {
    auto answer = Answers::object(body);
    auto content = answer ? chatContent(*answer) : std::nullopt;
    if (!content) return APIError::badResponse();
    return nonEmpty(*content);
}

// A reply of only white space counts as no reply.
std::optional<std::string> nonEmptyChatContent(const nlohmann::json& answer) {
    auto content = chatContent(answer);
    std::string trimmed = content ? Strings::trim(*content) : std::string();
    if (trimmed.empty()) return std::nullopt;
    return trimmed;
}

// The OpenAI-style chat body that Groq and compatible servers take.
std::optional<std::string> chatBody(const std::string& model, const std::string& system,
                                    const std::string& text) {
    return Answers::serialise(
        {{"model", model},
         {"temperature", kTemperature},
         {"max_tokens", kMaxTokens},
         {"messages", nlohmann::json::array({{{"role", "system"}, {"content", system}},
                                             {{"role", "user"}, {"content", wrapped(text)}}})}});
}

TextResult anthropicContent(const std::string& body) {
    auto answer = Answers::object(body);
    if (!answer) return APIError::badResponse();
    auto content = answer->find("content");
    if (content == answer->end() || !content->is_array()) return APIError::badResponse();
    std::string joined;
    for (const auto& block : *content) {
        if (!block.is_object()) return APIError::badResponse();
        if (auto text = Answers::stringMember(block, "text")) joined += *text;
    }
    return nonEmpty(joined);
}

HttpRequest providerRequest(std::string url, std::vector<HttpHeader> headers, std::string body) {
    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.timeoutSeconds = kPolishTimeoutSeconds;
    request.headers = std::move(headers);
    request.body = std::move(body);
    return request;
}

}  // namespace

void polish(const std::string& text, const std::string& system, Config config,
            TextCompletion completion) {
    if (usesService(config)) {
        polishViaService(text, system, std::move(config), std::move(completion));
    } else if (config.cleanupProvider == "custom") {
        polishWithCustom(text, system, std::move(config), std::move(completion));
    } else if (config.cleanupProvider == "anthropic") {
        polishWithAnthropic(text, system, std::move(config), std::move(completion));
    } else {
        polishWithGroq(text, system, std::move(config), std::move(completion));
    }
}

void polishWithGroq(const std::string& text, const std::string& system, Config config,
                    TextCompletion completion) {
    if (config.groqApiKey.empty()) return completion(APIError::noKey("Groq"));
    auto serialised = chatBody(config.cleanupModel, system, text);
    if (!serialised) return completion(APIError::badResponse());
    auto request = providerRequest(
        groqBase() + "/openai/v1/chat/completions",
        {{"Authorization", "Bearer " + config.groqApiKey}, {"Content-Type", "application/json"}},
        std::move(*serialised));
    send(std::move(request),
         [completion = std::move(completion)](ServiceResult<std::string> result) {
             if (!result.ok()) return completion(result.error());
             completion(groqContent(result.value()));
         });
}

void polishWithAnthropic(const std::string& text, const std::string& system, Config config,
                         TextCompletion completion) {
    if (config.anthropicApiKey.empty()) return completion(APIError::noKey("Anthropic"));
    nlohmann::json body = {
        {"model", config.cleanupModel},
        {"max_tokens", kMaxTokens},
        {"temperature", kTemperature},
        {"system", system},
        {"messages", nlohmann::json::array({{{"role", "user"}, {"content", wrapped(text)}}})}};
    auto serialised = Answers::serialise(body);
    if (!serialised) return completion(APIError::badResponse());
    auto request = providerRequest(anthropicBase() + "/v1/messages",
                                   {{"x-api-key", config.anthropicApiKey},
                                    {"anthropic-version", "2023-06-01"},
                                    {"Content-Type", "application/json"}},
                                   std::move(*serialised));
    send(std::move(request),
         [completion = std::move(completion)](ServiceResult<std::string> result) {
             if (!result.ok()) return completion(result.error());
             completion(anthropicContent(result.value()));
         });
}

void polishWithCustom(const std::string& text, const std::string& system, Config config,
                      TextCompletion completion) {
    auto server = CustomServer::of(config, CustomServer::Step::polishing);
    if (!server.ok()) return completion(APIError::message(server.error()));
    auto serialised = chatBody(config.cleanupModel, system, text);
    if (!serialised) return completion(APIError::badResponse());
    // A model's time grows with the text it reads and writes: the text
    // counts as the speech it came from, 150 words (about 900 characters) a minute.
    constexpr double kCharactersPerSecond = 15;
    double timeout = CustomServer::timeoutSeconds(
        static_cast<double>(Strings::codePointCount(text)) / kCharactersPerSecond, config);
    HttpRequest request = CustomServer::request(server.value(), "/v1/chat/completions", timeout);
    request.headers.push_back({"Content-Type", "application/json"});
    request.body = std::move(*serialised);
    exchange(std::move(request),
             [server = std::move(server.value()), timeout,
              completion = std::move(completion)](ServiceResult<HttpResponse> result) {
                 if (!result.ok())
                     return completion(CustomServer::unreachable(server, result.error(), timeout));
                 completion(CustomServer::textOf(server, result.value(), nonEmptyChatContent));
             });
}

void polishViaService(const std::string& text, const std::string& system, Config config,
                      TextCompletion completion) {
    auto request = serviceRequest("/polish", config);
    if (!request) return completion(APIError::badResponse());
    request->headers.push_back({"Content-Type", "application/json"});
    nlohmann::json body = {{"system", system}, {"text", wrapped(text)}};
    // A body that cannot be serialised is left out; the service then refuses the request.
    if (auto serialised = Answers::serialise(body)) request->body = std::move(*serialised);
    send(std::move(*request),
         [completion = std::move(completion)](ServiceResult<std::string> result) {
             if (!result.ok()) return completion(serviceError(result.error()));
             auto answer = Answers::object(result.value());
             auto polished = answer ? Answers::stringMember(*answer, "text") : std::nullopt;
             if (!polished) return completion(APIError::badResponse());
             completion(nonEmpty(*polished));
         });
}

}  // namespace velvox::API
