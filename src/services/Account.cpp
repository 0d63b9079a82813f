#include "services/Account.h"

#include <type_traits>
#include <utility>

#include "services/API.h"
#include "services/Auth.h"
#include "services/Url.h"

namespace velvox::Account {

namespace {

constexpr double kAccountTimeoutSeconds = 12;
constexpr double kBillingPortalTimeoutSeconds = 15;
constexpr double kKeyCheckTimeoutSeconds = 15;

// The account requests stand outside the service frame: the token (when
// there is one) and the application secret, nothing else.
std::optional<HttpRequest> accountRequest(const std::string& method, const std::string& url,
                                          const std::optional<std::string>& token,
                                          double timeoutSeconds) {
    if (!parseHttpUrl(url)) return std::nullopt;
    HttpRequest request;
    request.method = method;
    request.url = url;
    request.timeoutSeconds = timeoutSeconds;
    if (token) request.headers.push_back({"Authorization", "Bearer " + *token});
    request.headers.push_back({"X-Velvox-App", API::appSecretForSettings()});
    return request;
}

// The body of any HTTP answer as a JSON object (in the service's member order).
std::optional<nlohmann::ordered_json> objectOf(const ServiceResult<HttpResponse>& answer) {
    if (!answer.ok()) return std::nullopt;
    auto parsed = nlohmann::ordered_json::parse(answer.value().body, nullptr, false);
    if (!parsed.is_object()) return std::nullopt;
    return parsed;
}

template <typename Value>
Value memberOr(const nlohmann::ordered_json& object, const char* name, Value fallback) {
    auto found = object.find(name);
    if (found == object.end()) return fallback;
    if constexpr (std::is_same_v<Value, bool>) {
        return found->is_boolean() ? found->get<bool>() : fallback;
    } else if constexpr (std::is_same_v<Value, std::string>) {
        return found->is_string() ? found->get<std::string>() : fallback;
    } else {
        // Integers: whole JSON numbers, also when written with a fraction part.
        if (found->is_number_integer()) return found->get<int64_t>();
        if (found->is_number_float()) {
            double value = found->get<double>();
            if (value >= -9.2e18 && value <= 9.2e18) return static_cast<int64_t>(value);
        }
        return fallback;
    }
}

std::optional<std::string> stringMember(const nlohmann::ordered_json& object, const char* name) {
    auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

// Listing the models costs nothing and needs a valid key: only 200 accepts it.
void checkKey(const std::string& url, std::vector<HttpHeader> headers,
              std::function<void(EmptyResult)> done) {
    HttpRequest request;
    request.method = "GET";
    request.url = url;
    request.timeoutSeconds = kKeyCheckTimeoutSeconds;
    request.headers = std::move(headers);
    API::exchange(std::move(request), [done = std::move(done)](ServiceResult<HttpResponse> answer) {
        if (!answer.ok()) return done(answer.error());
        int status = answer.value().status;
        if (status == 200) return done(std::monostate{});
        done(APIError::http(status, std::move(answer.value().body)));
    });
}

}  // namespace

void checkGroqKey(const std::string& key, std::function<void(EmptyResult)> done) {
    checkKey(API::groqBase() + "/openai/v1/models", {{"Authorization", "Bearer " + key}},
             std::move(done));
}

void checkAnthropicKey(const std::string& key, std::function<void(EmptyResult)> done) {
    checkKey(API::anthropicBase() + "/v1/models",
             {{"x-api-key", key}, {"anthropic-version", "2023-06-01"}}, std::move(done));
}

void usage(const Config& config, std::function<void(ServiceResult<Usage>)> done) {
    auto request =
        accountRequest("GET", config.apiBase + "/me", Auth::token(), kAccountTimeoutSeconds);
    if (!request) return;
    API::exchange(std::move(*request),
                  [done = std::move(done)](ServiceResult<HttpResponse> answer) {
                      auto object = objectOf(answer);
                      if (!object)
                          return done(answer.ok() ? ServiceResult<Usage>(APIError::badResponse())
                                                  : ServiceResult<Usage>(answer.error()));
                      Usage usage;
                      usage.ok = memberOr(*object, "ok", false);
                      usage.signedIn = memberOr(*object, "signedIn", false);
                      usage.email = stringMember(*object, "email");
                      usage.plan = memberOr(*object, "plan", std::string("free"));
                      usage.used = memberOr(*object, "used", int64_t{0});
                      usage.cap = memberOr(*object, "cap", int64_t{0});
                      done(std::move(usage));
                  });
}

void billingSummary(const Config& config, std::function<void(ServiceResult<BillingSummary>)> done) {
    auto token = Auth::token();
    if (!token) return;
    auto request =
        accountRequest("GET", config.apiBase + "/billing/summary", token, kAccountTimeoutSeconds);
    if (!request) return;
    API::exchange(
        std::move(*request), [done = std::move(done)](ServiceResult<HttpResponse> answer) {
            auto object = objectOf(answer);
            if (!object || !stringMember(*object, "plan")) {
                return done(answer.ok() ? ServiceResult<BillingSummary>(APIError::badResponse())
                                        : ServiceResult<BillingSummary>(answer.error()));
            }
            auto upgradeUrl = stringMember(*object, "upgradeUrl");
            done(BillingSummary{std::move(*object), std::move(upgradeUrl)});
        });
}

void billingPortal(const Config& config, std::function<void(ServiceResult<std::string>)> done) {
    auto token = Auth::token();
    if (!token) return;
    auto request = accountRequest("POST", config.apiBase + "/billing/portal", token,
                                  kBillingPortalTimeoutSeconds);
    if (!request) return;
    API::exchange(std::move(*request),
                  [done = std::move(done)](ServiceResult<HttpResponse> answer) {
                      auto object = objectOf(answer);
                      auto overview = object ? stringMember(*object, "overview") : std::nullopt;
                      if (overview && !overview->empty()) return done(std::move(*overview));
                      done(answer.ok() ? ServiceResult<std::string>(APIError::badResponse())
                                       : ServiceResult<std::string>(answer.error()));
                  });
}

}  // namespace velvox::Account
