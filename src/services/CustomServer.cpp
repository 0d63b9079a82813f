#include "services/CustomServer.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "base/Log.h"
#include "base/Strings.h"
#include "platform/Platform.h"
#include "services/Answers.h"
#include "services/TextPieces.h"
#include "services/Url.h"

namespace velvox::CustomServer {

namespace {

constexpr double kBaseTimeoutSeconds = 30;
constexpr size_t kShownErrorCharacters = 200;

std::mutex rememberedMutex;
std::set<std::string> rememberedWav;

enum class Reach { thisComputer, ownNetwork, internet };

Reach reachOfIPv4(const in_addr& address) {
    uint32_t ip = ntohl(address.s_addr);
    auto in = [ip](uint32_t network, int bits) {
        return (ip >> (32 - bits)) == (network >> (32 - bits));
    };
    if (in(0x7f000000, 8)) return Reach::thisComputer;
    // RFC 1918, link-local, and the shared range that mesh VPNs hand out.
    if (in(0x0a000000, 8) || in(0xac100000, 12) || in(0xc0a80000, 16) || in(0xa9fe0000, 16) ||
        in(0x64400000, 10))
        return Reach::ownNetwork;
    return Reach::internet;
}

// Where a host is, as far as its name tells: an address literal says it
// exactly; a name says it only by the suffixes that never reach the
// internet's DNS (and a name without a dot, which only a local resolver knows).
Reach reachOf(std::string host) {
    host = Strings::asciiLowercase(std::move(host));
    if (host.size() > 2 && host.front() == '[') {
        in6_addr v6{};
        if (inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &v6) != 1)
            return Reach::internet;
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return Reach::thisComputer;
        if (IN6_IS_ADDR_V4MAPPED(&v6)) {
            in_addr v4{};
            std::memcpy(&v4, &v6.s6_addr[12], 4);
            return reachOfIPv4(v4);
        }
        bool uniqueLocal = (v6.s6_addr[0] & 0xfe) == 0xfc;
        return uniqueLocal || IN6_IS_ADDR_LINKLOCAL(&v6) ? Reach::ownNetwork : Reach::internet;
    }
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return reachOfIPv4(v4);
    if (host == "localhost" || host.ends_with(".localhost")) return Reach::thisComputer;
    if (host.find('.') == std::string::npos) return Reach::ownNetwork;
    for (const char* suffix : {".local", ".lan", ".home.arpa", ".internal"}) {
        if (host.ends_with(suffix)) return Reach::ownNetwork;
    }
    return Reach::internet;
}

const char* nameOf(Step step) {
    return step == Step::transcription ? "transcription" : "polishing";
}

std::string said(const Server& server) {
    return std::string("The ") + nameOf(server.step) + " server at " + server.base;
}

// The server's own words about a failure, in the shapes OpenAI-compatible
// servers use ({"error":{"message"}}, {"error":"..."}, {"detail":"..."},
// {"message":"..."}), else a short plain-text body; never a web page.
std::string errorText(const std::string& body) {
    std::string text;
    if (auto object = Answers::object(body)) {
        auto error = object->find("error");
        if (error != object->end() && error->is_object()) {
            text = Answers::stringMember(*error, "message").value_or("");
        } else if (auto plain = Answers::stringMember(*object, "error")) {
            text = *plain;
        } else if (auto detail = Answers::stringMember(*object, "detail")) {
            text = *detail;
        } else if (auto message = Answers::stringMember(*object, "message")) {
            text = *message;
        }
    } else if (TextPieces::isValidUtf8(body)) {
        text = Strings::trim(body);
        if (!text.empty() && text.front() == '<') text.clear();
    }
    text = Strings::trim(text.substr(0, text.find('\n')));
    if (!TextPieces::isValidUtf8(text)) return {};
    std::string shown = TextPieces::prefixCharacters(text, kShownErrorCharacters);
    return shown.size() < text.size() ? shown + "\u2026" : shown;
}

bool looksLikeWebPage(const std::string& body) {
    auto first = body.find_first_not_of(" \t\r\n");
    return first != std::string::npos && body[first] == '<';
}

std::string routeOf(Step step) {
    return step == Step::transcription ? "/v1/audio/transcriptions" : "/v1/chat/completions";
}

std::string transportFailure(const Server& server, const TransportError& error,
                             double timeoutSeconds) {
    switch (error.kind) {
        case TransportError::Kind::cannotConnect:
            return said(server) + " refused the connection. Is it running?";
        case TransportError::Kind::cannotFindHost:
            return said(server) + " was not found. Check the address.";
        case TransportError::Kind::timedOut:
            return said(server) + " did not answer within " +
                   std::to_string(static_cast<long>(timeoutSeconds)) + " seconds.";
        default:
            return said(server) + " could not be reached: " + error.message;
    }
}

// The server's words about a failure, without the key should it echo it:
// they reach the pill, the notification and the log.
std::string wordsOf(const Server& server, const std::string& body) {
    return TextPieces::redact(errorText(body), server.key);
}

std::string httpFailure(const Server& server, int status, const std::string& body) {
    std::string words = wordsOf(server, body);
    if (status >= 300 && status <= 399) {
        return said(server) +
               " sent the request on to another address. Velvox does not follow it there; put "
               "the final address in the settings.";
    }
    if ((status == 401 || status == 403) && server.key.empty())
        return said(server) + " wants a key. Add it in the settings.";
    if (status == 401 || status == 403) return said(server) + " rejected the key.";
    // A server that is not OpenAI-compatible answers a route it lacks with a
    // page or a plain "Not Found"; one that is says what it misses in JSON.
    if ((status == 404 || status == 405) && !Answers::object(body)) {
        return said(server) + " has no " + routeOf(server.step) +
               ". Is it an OpenAI-compatible server?";
    }
    std::string answered = said(server) + " answered " + std::to_string(status);
    return words.empty() ? answered + "." : answered + ": " + words;
}

}  // namespace

Result<Server, std::string> of(const Config& config, Step step) {
    bool transcription = step == Step::transcription;
    std::string base =
        Strings::trim(transcription ? config.transcribeBaseUrl : config.cleanupBaseUrl);
    std::string key = transcription ? config.transcribeApiKey : config.cleanupApiKey;
    std::string what = std::string("The ") + nameOf(step) + " server";
    if (base.empty()) return Failure{what + " has no address. Set it in the settings."};
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (Strings::asciiLowercase(base).ends_with("/v1")) base.resize(base.size() - 3);
    auto url = parseHttpUrl(base);
    if (!url || base.find_first_of("?#") != std::string::npos) {
        return Failure{what + " address \"" + base +
                       "\" is not a web address such as http://127.0.0.1:8080."};
    }
    if (url->scheme == "http") {
        Reach reach = reachOf(url->host);
        if (reach == Reach::internet) {
            return Failure{what + " at " + base +
                           " is on the internet: use https:// there, so that nobody on the way "
                           "can read what you say."};
        }
        if (reach == Reach::ownNetwork && !key.empty()) {
            return Failure{what + " at " + base +
                           " takes a key over plain http://, which anyone on the network could "
                           "read: use https://, or leave the key empty."};
        }
    }
    return Server{step, std::move(base), std::move(key)};
}

HttpRequest request(const Server& server, const std::string& route, double timeoutSeconds) {
    HttpRequest request;
    request.method = "POST";
    request.url = server.base + route;
    request.timeoutSeconds = timeoutSeconds;
    if (!server.key.empty()) request.headers.push_back({"Authorization", "Bearer " + server.key});
    return request;
}

double timeoutSeconds(double speechSeconds, const Config& config) {
    return kBaseTimeoutSeconds + config.customTimeoutPerSecond * std::max(0.0, speechSeconds);
}

APIError unreachable(const Server& server, const ServiceError& error, double timeoutSeconds) {
    if (const auto* transport = std::get_if<TransportError>(&error))
        return APIError::message(transportFailure(server, *transport, timeoutSeconds));
    return std::get<APIError>(error);
}

ServiceResult<std::string> textOf(const Server& server, const HttpResponse& response,
                                  TakeText take) {
    const std::string& body = response.body;
    if (response.status < 200 || response.status > 299)
        return APIError::message(httpFailure(server, response.status, body));
    if (looksLikeWebPage(body)) {
        return APIError::message(said(server) +
                                 " answered with a web page. Check the address: it is the part "
                                 "before /v1.");
    }
    auto object = Answers::object(body);
    if (!object) {
        return APIError::message(said(server) +
                                 " did not answer in JSON. Is it an OpenAI-compatible server?");
    }
    if (auto text = take(*object)) return std::move(*text);
    // Some servers say what went wrong in a 200 answer.
    if (auto error = object->find("error"); error != object->end() && !error->is_null()) {
        std::string words = wordsOf(server, body);
        return APIError::message(said(server) + " answered with an error" +
                                 (words.empty() ? "." : ": " + words));
    }
    return APIError::message(said(server) + " answered without " +
                             (server.step == Step::transcription ? "a transcript" : "a reply") +
                             ". Is it an OpenAI-compatible server?");
}

bool refusesAudio(const HttpResponse& response) {
    bool success = response.status >= 200 && response.status <= 299;
    if (!success && response.status != 400 && response.status != 415 && response.status != 422 &&
        response.status != 500)
        return false;
    std::string words = Strings::asciiLowercase(errorText(response.body));
    for (const char* sign : {"wav", "format", "decode", "codec", "unsupported", "read audio",
                             "audio file", "could not read", "failed to read"}) {
        if (words.find(sign) != std::string::npos) return true;
    }
    return false;
}

bool wantsWav(const Config& config, const Server& server) {
    if (config.transcribeUploadFormat == "wav") return true;
    if (config.transcribeUploadFormat != "auto") return false;
    if (config.transcribeWavServer == server.base) return true;
    std::lock_guard lock(rememberedMutex);
    return rememberedWav.count(server.base) > 0;
}

void rememberWants(const Server& server) {
    {
        std::lock_guard lock(rememberedMutex);
        if (!rememberedWav.insert(server.base).second) return;
    }
    Log::write("transcription server reads only WAV; sending WAV from now on");
    auto store = [base = server.base] { Config::set("transcribeWavServer", base); };
    if (Platform::hasMainQueue()) {
        Platform::mainQueue().async(store);
    } else {
        store();
    }
}

void forgetRememberedForTesting() {
    std::lock_guard lock(rememberedMutex);
    rememberedWav.clear();
}

}  // namespace velvox::CustomServer
