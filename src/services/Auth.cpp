#include "services/Auth.h"

#include <algorithm>
#include <cctype>

#include "base/Files.h"
#include "base/Log.h"
#include "base/NotificationCenter.h"
#include "base/Paths.h"
#include "base/Strings.h"
#include "platform/Platform.h"
#include "services/API.h"
#include "services/Answers.h"
#include "services/Url.h"

namespace velvox::Auth {

namespace {

constexpr double kLinkTimeoutSeconds = 25;
const std::string kPrefix = "ovk_";
// Tokens the service hands out are far shorter; anything longer is not one.
constexpr size_t kLongestToken = 512;

// The value of the first query item with the name; nothing when there is no
// such item or it has no "=".
std::optional<std::string> queryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        size_t end = query.find('&');
        std::string_view item = query.substr(0, end);
        size_t equals = item.find('=');
        if (percentDecoded(item.substr(0, equals)) == name) {
            if (equals == std::string_view::npos) return std::nullopt;
            return percentDecoded(item.substr(equals + 1));
        }
        if (end == std::string_view::npos) break;
        query.remove_prefix(end + 1);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> token() {
    auto content = Files::read(Paths::configURL());
    if (!content) return std::nullopt;
    auto object = Answers::object(*content);
    if (!object) return std::nullopt;
    auto stored = Answers::stringMember(*object, "deviceToken");
    if (!stored) return std::nullopt;
    std::string trimmed = Strings::trim(*stored);
    if (!trimmed.starts_with(kPrefix)) return std::nullopt;
    return trimmed;
}

bool signedIn() {
    return token().has_value();
}

bool save(const std::string& candidate) {
    std::string trimmed = Strings::trim(candidate);
    if (!trimmed.starts_with(kPrefix)) return false;
    // A token goes into a request header: a line break or another control
    // character there would fail every request while Home says signed in.
    bool control = std::any_of(trimmed.begin(), trimmed.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    if (control || trimmed.size() > kLongestToken) {
        Log::write(std::string("sign-in refused: the token ") +
                   (control ? "holds control characters" : "is too long") +
                   ", the sign-in stays as it was");
        return false;
    }
    if (!Config::set("deviceToken", nlohmann::json(trimmed))) {
        Log::error("sign-in not saved: config.json could not be written");
        return false;
    }
    Log::write("signed in");
    NotificationCenter::defaultCenter().post(changed);
    return true;
}

void signOut() {
    Config::set("deviceToken", nlohmann::json(""));
    Log::write("signed out");
    NotificationCenter::defaultCenter().post(changed);
}

bool handle(const std::string& url) {
    const std::string schemeMark = "velvox://";
    if (!url.starts_with(schemeMark)) return false;
    std::string_view rest = std::string_view(url).substr(schemeMark.size());
    size_t authorityEnd = rest.find_first_of("/?#");
    std::string_view host = rest.substr(0, authorityEnd);
    if (size_t at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
    if (size_t colon = host.find(':'); colon != std::string_view::npos)
        host = host.substr(0, colon);
    if (host != "auth") return false;

    size_t question = rest.find('?');
    if (question == std::string_view::npos) return false;
    std::string_view query = rest.substr(question + 1);
    query = query.substr(0, query.find('#'));
    auto value = queryValue(query, "token");
    if (!value) return false;
    return save(*value);
}

void requestLink(const std::string& email, const Config& config,
                 std::function<void(EmptyResult)> done) {
    std::string url = config.apiBase + "/auth/start";
    if (!parseHttpUrl(url)) return done(APIError::badResponse());
    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.timeoutSeconds = kLinkTimeoutSeconds;
    request.headers = {{"Content-Type", "application/json"},
                       {"X-Velvox-App", API::appSecretForSettings()}};
    request.body = Answers::serialise(nlohmann::json{{"email", email}}).value_or("{}");
    Platform::httpClient().send(std::move(request), [done = std::move(done)](HttpResult result) {
        EmptyResult outcome = std::monostate{};
        if (!result.ok()) {
            outcome = result.error();
        } else if (auto& response = result.value(); response.status != 200) {
            auto answer = Answers::object(response.body);
            auto message = answer ? Answers::stringMember(*answer, "message") : std::nullopt;
            if (message && !message->empty()) {
                outcome = APIError::message(*message);
            } else {
                auto code = answer ? Answers::stringMember(*answer, "error") : std::nullopt;
                outcome = APIError::http(response.status, code.value_or(""));
            }
        }
        Platform::mainQueue().async(
            [done, outcome = std::move(outcome)]() mutable { done(std::move(outcome)); });
    });
}

}  // namespace velvox::Auth
