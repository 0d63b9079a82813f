#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "HttpServer.h"
#include "Mailer.h"
#include "Providers.h"
#include "Settings.h"
#include "Store.h"

namespace velvox::service {

// Seconds since the epoch; tests move it to let codes expire.
using NowFunction = std::function<int64_t()>;
int64_t systemNow();

// Monday 00:00 UTC of the week that holds `now`.
int64_t weekStart(int64_t now);
// The spoken words of a transcript: runs of characters between white space.
int64_t countWords(const std::string& text);

// The service route's answers, installed on an HTTP server: the account and
// sign-in paths under /v1 and the upgrade page at the root.
class Service {
  public:
    Service(const Settings& settings, Store& store, const Mailer& mailer, Providers& providers,
            NowFunction now = systemNow);
    void install(HttpServer& server);

  private:
    const Settings& settings_;
    Store& store_;
    const Mailer& mailer_;
    Providers& providers_;
    NowFunction now_;
    // Said once: requests come through a proxy that is not trusted.
    std::atomic<bool> toldOfProxy_{false};
};

// The address a request came from: the peer, or, when the peer is the
// trusted reverse proxy, the address that proxy saw.
std::string clientAddress(const HttpRequest& request, const std::string& trustedProxy);

// An e-mail address as accounts are keyed: trimmed and lower-case, so that
// the operator may type it as the user did.
std::string accountEmail(std::string_view given);

}  // namespace velvox::service
