#pragma once

#include <cstdint>
#include <string>

namespace velvox {

// A failure of a service call, with the message the user sees.
struct APIError {
    enum class Kind {
        noKey,          // text: provider name ("Groq", "Anthropic")
        http,           // status, text: response body
        allowanceUsed,  // used, cap
        trialOver,      // cap: number of free goes
        message,        // text: a message the service sent
        badResponse,
        serviceNotReady,
        signedOut
    };

    Kind kind = Kind::badResponse;
    std::string text;
    int status = 0;
    int64_t used = 0;
    int64_t cap = 0;

    static APIError noKey(std::string provider);
    static APIError http(int status, std::string body);
    static APIError allowanceUsed(int64_t used, int64_t cap);
    static APIError trialOver(int64_t freeGoes);
    static APIError message(std::string text);
    static APIError badResponse();
    static APIError serviceNotReady();
    static APIError signedOut();

    std::string errorDescription() const;

    bool operator==(const APIError&) const = default;
};

}  // namespace velvox
