#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/Config.h"
#include "services/ServiceResult.h"

namespace velvox::Auth {

// Posted (synchronously, on the default notification center) when a token is
// saved or removed.
inline const std::string changed = "orvo.auth.changed";

// The stored device token, read afresh from config.json on every call;
// nothing when missing, mistyped or without the "ovk_" prefix.
std::optional<std::string> token();
bool signedIn();

// Stores the token (trimmed) when it has the prefix, no control characters
// and a sane length; answers whether it was stored.
bool save(const std::string& token);
// Stores an empty token.
void signOut();

// Accepts velvox://auth?token=...; true when it carried a token that was saved.
bool handle(const std::string& url);

// Asks the service to mail a sign-in link. `done` runs on the main queue, or
// at once on the caller's thread when apiBase gives no valid address.
void requestLink(const std::string& email, const Config& config,
                 std::function<void(EmptyResult)> done);

}  // namespace velvox::Auth
