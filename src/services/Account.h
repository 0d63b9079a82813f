#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "config/Config.h"
#include "services/ServiceResult.h"

namespace velvox::Account {

// The service's view of the account ("/me"). A member missing or of the wrong
// type takes its default.
struct Usage {
    bool ok = false;
    bool signedIn = false;
    // The "email" member, when it is a string.
    std::optional<std::string> email;
    std::string plan = "free";
    int64_t used = 0;
    int64_t cap = 0;
};

// The billing summary ("/billing/summary"): the service's object, kept in its
// own member order for the page, which has a string "plan".
struct BillingSummary {
    nlohmann::ordered_json object;
    std::optional<std::string> upgradeUrl;
};

// Requests about the signed-in account and the user's own Groq key, sent
// through the one transport (API::exchange). Completions run on the network
// thread; callers that touch shared state hop to the main queue. Where a
// request cannot be built (no token where one is needed, an address that is
// not valid) nothing is sent and the completion is never called.

// Asks Groq whether it accepts the key (GET /openai/v1/models, 15 s, the key
// as bearer and no other header). Success only for a 200 answer; any other
// answer is APIError::http with its status (0 when the answer is not HTTP);
// a network failure is passed on unchanged.
void checkGroqKey(const std::string& key, std::function<void(EmptyResult)> done);

// Asks Anthropic the same (GET /v1/models, 15 s, the key as "x-api-key" with
// "anthropic-version" 2023-06-01 and no other header); the same outcomes.
void checkAnthropicKey(const std::string& key, std::function<void(EmptyResult)> done);

// GET apiBase + "/me" (12 s) with the token when there is one. The status is
// not examined: any answer whose body is a JSON object gives the usage;
// anything else fails.
void usage(const Config& config, std::function<void(ServiceResult<Usage>)> done);

// GET apiBase + "/billing/summary" (12 s); only with a token. Fails unless the
// body is a JSON object with a string "plan".
void billingSummary(const Config& config, std::function<void(ServiceResult<BillingSummary>)> done);

// POST apiBase + "/billing/portal" (15 s, no body); only with a token. Gives
// the non-empty "overview" address of the answer, whatever its status, or fails.
void billingPortal(const Config& config, std::function<void(ServiceResult<std::string>)> done);

}  // namespace velvox::Account
