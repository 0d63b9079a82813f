#include <atomic>
#include <cstdlib>

#include "base/Log.h"
#include "platform/Platform.h"
#include "services/API.h"
#include "services/Answers.h"
#include "services/Auth.h"
#include "services/CustomServer.h"
#include "services/TextPieces.h"
#include "services/Url.h"

namespace velvox::API {

namespace {

constexpr double kServiceTimeoutSeconds = 60;
constexpr size_t kLoggedBodyCharacters = 200;

std::atomic<int64_t> lastLoggedSeconds{INT64_MIN};

std::string baseFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string base = value && *value ? value : fallback;
    if (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

// Header values that must never reach the log, even when a server echoes them.
std::vector<std::string> secretsOf(const HttpRequest& request) {
    std::vector<std::string> secrets;
    if (auto authorization = request.header("Authorization")) {
        const std::string prefix = "Bearer ";
        secrets.push_back(authorization->starts_with(prefix) ? authorization->substr(prefix.size())
                                                             : *authorization);
    }
    if (auto key = request.header("x-api-key")) secrets.push_back(*key);
    return secrets;
}

}  // namespace

bool usesService(const Config& config) {
    return !config.useOwnKey && !config.apiBase.empty();
}

bool ownTranscriptionReady(const Config& config) {
    if (config.transcribeProvider == "custom") return !config.transcribeBaseUrl.empty();
    return !config.groqApiKey.empty();
}

bool polishingReady(const Config& config) {
    if (usesService(config)) return true;
    if (config.cleanupProvider == "custom") return !config.cleanupBaseUrl.empty();
    if (config.cleanupProvider == "anthropic") return !config.anthropicApiKey.empty();
    return !config.groqApiKey.empty();
}

bool needsSignIn(const Config&) {
    return false;
}

const std::string& appSecretForSettings() {
    static const std::string secret = "Q7vT2mLw9xKp4RbN8cZd1FhJ6sYg3Ue_";
    return secret;
}

std::optional<HttpRequest> serviceRequest(const std::string& path, const Config& config) {
    std::string url = config.apiBase + path;
    if (!parseHttpUrl(url)) return std::nullopt;
    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.timeoutSeconds = kServiceTimeoutSeconds;
    if (auto token = Auth::token())
        request.headers.push_back({"Authorization", "Bearer " + *token});
    request.headers.push_back({"X-Velvox-App", appSecretForSettings()});
    request.headers.push_back({"X-Velvox-Install", Config::installId()});
    return request;
}

void exchange(HttpRequest request, AnswerCompletion completion) {
    auto parsed = parseHttpUrl(request.url);
    // An address that is not valid never leaves the machine.
    if (!parsed) return completion(APIError::badResponse());
    std::string path = parsed->path.empty() ? "?" : parsed->path;
    auto secrets = secretsOf(request);
    Platform::httpClient().send(
        std::move(request), [completion = std::move(completion), path = std::move(path),
                             secrets = std::move(secrets)](HttpResult result) {
            if (!result.ok()) return completion(std::move(result.error()));
            auto& response = result.value();
            if (response.status == 0) return completion(APIError::badResponse());
            if (response.status < 200 || response.status > 299) {
                std::string logged =
                    TextPieces::isValidUtf8(response.body) ? response.body : std::string();
                for (const auto& secret : secrets)
                    logged = TextPieces::redact(std::move(logged), secret);
                Log::write("HTTP " + std::to_string(response.status) + " from " + path + ": " +
                           TextPieces::prefixCharacters(logged, kLoggedBodyCharacters));
            }
            completion(std::move(response));
        });
}

void send(HttpRequest request, DataCompletion completion) {
    exchange(std::move(request), [completion =
                                      std::move(completion)](ServiceResult<HttpResponse> answer) {
        if (!answer.ok()) return completion(answer.error());
        auto& response = answer.value();
        if (response.status >= 200 && response.status <= 299)
            return completion(std::move(response.body));
        std::string body =
            TextPieces::isValidUtf8(response.body) ? std::move(response.body) : std::string();
        completion(APIError::http(response.status, std::move(body)));
    });
}

ServiceError serviceError(ServiceError error) {
    const auto* api = std::get_if<APIError>(&error);
    if (!api || api->kind != APIError::Kind::http) return error;
    switch (api->status) {
        case 401:
            return APIError::signedOut();
        case 503:
            return APIError::serviceNotReady();
        case 402: {
            auto body = Answers::object(api->text);
            if (!body) return APIError::allowanceUsed(0, 0);
            if (Answers::stringMember(*body, "error") == "trial_over") {
                return APIError::trialOver(Answers::integerMember(*body, "cap").value_or(10));
            }
            return APIError::allowanceUsed(Answers::integerMember(*body, "used").value_or(0),
                                           Answers::integerMember(*body, "cap").value_or(0));
        }
        default:
            return error;
    }
}

std::string groqBase() {
    return baseFromEnvironment("VELVOX_GROQ_BASE", "https://api.groq.com");
}

std::string anthropicBase() {
    return baseFromEnvironment("VELVOX_ANTHROPIC_BASE", "https://api.anthropic.com");
}

void warmUp(const Config& config) {
    std::string base = usesService(config) ? config.apiBase : groqBase();
    if (!usesService(config) && config.transcribeProvider == "custom") {
        auto server = CustomServer::of(config, CustomServer::Step::transcription);
        if (!server.ok()) return;
        base = server.value().base;
    }
    if (!parseHttpUrl(base)) return;
    Platform::httpClient().connect(base, [](std::optional<TransportError> error) {
        if (!error) return;
        // Warm-up runs at every key press: one line a minute says enough.
        int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          Platform::clock().now().time_since_epoch())
                          .count();
        int64_t last = lastLoggedSeconds.load();
        if (last != INT64_MIN && now - last < 60) return;
        if (!lastLoggedSeconds.compare_exchange_strong(last, now)) return;
        Log::write("warm-up: could not connect: " + error->message);
    });
}

void resetWarmUpLogForTesting() {
    lastLoggedSeconds = INT64_MIN;
}

}  // namespace velvox::API
