#include "Service.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "Secrets.h"
#include "ServiceLog.h"
#include "base/Strings.h"
#include "services/Answers.h"

namespace velvox::service {

namespace {

constexpr int64_t kCodeLifetimeSeconds = 15 * 60;
constexpr int kCodesPerEmailPerLifetime = 3;  // from one client
constexpr int kCodesPerEmailFromAnywhere = 10;
constexpr int kCodesPerClientPerHour = 20;
// Groq takes uploads up to 25 MB; a little more for the multipart frame.
constexpr size_t kMaxBodyBytes = 26 * 1024 * 1024;
constexpr size_t kMaxPolishBytes = 256 * 1024;
// A sign-in request, the verify form, a billing request: an address or a code.
constexpr size_t kMaxSmallBodyBytes = 4 * 1024;
// Each served transcription may be polished once; a few may wait, for a
// dictation retried while its first polish was still on its way.
constexpr int kPolishesWaiting = 3;
// The instructions of a polish: the application's prompt and the user's
// context, with room to spare.
constexpr size_t kMaxInstructionBytes = 24 * 1024;
constexpr int64_t kMaxPolishTokens = 2048;
// Groq bills a transcription as ten seconds at least.
constexpr int64_t kMinimumBilledSeconds = 10;

int64_t billedSeconds(const ProviderResult& result) {
    return std::max(kMinimumBilledSeconds, static_cast<int64_t>(std::ceil(result.seconds)));
}

void answerJson(HttpResponse& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.setHeader("Cache-Control", "no-store");
    response.setContent(body.dump(), "application/json");
}

// Sends the sign-in form on by itself in a browser; a mail scanner that
// fetches the link without running scripts leaves the code unused.
const char* const kSubmitScript = "document.forms[0].submit()";

void answerPage(HttpResponse& response, int status, const std::string& title,
                const std::string& inner, const std::string& head = {}) {
    static const std::string policy =
        "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; script-src 'sha256-" +
        Secrets::digestBase64(kSubmitScript) + "'";
    response.status = status;
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("Referrer-Policy", "no-referrer");
    response.setHeader("Content-Security-Policy", policy);
    response.setContent(
        "<!doctype html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
        "content=\"width=device-width\">" +
            head + "<title>" + title +
            "</title><style>body{font-family:sans-serif;max-width:34em;margin:4em auto;padding:0 "
            "1em;line-height:1.5}a.button,button{display:inline-block;padding:.6em "
            "1.2em;background:#333;"
            "color:#fff;border-radius:.4em;text-decoration:none;border:0;font-size:1em}code{word-"
            "break:break-all}</style>"
            "</head><body><h1>" +
            title + "</h1>" + inner + "</body></html>",
        "text/html; charset=utf-8");
}

std::optional<std::string> bearer(const HttpRequest& request) {
    if (!request.hasHeader("Authorization")) return std::nullopt;
    std::string value = request.header("Authorization");
    const std::string prefix = "Bearer ";
    return value.starts_with(prefix) ? value.substr(prefix.size()) : std::string();
}

std::vector<std::string> vocabularyOf(const HttpRequest& request) {
    std::vector<std::string> entries;
    std::string header = request.header("X-Velvox-Vocab");
    size_t start = 0;
    while (start < header.size()) {
        size_t comma = header.find(", ", start);
        if (comma == std::string::npos) comma = header.size();
        if (comma > start) entries.push_back(header.substr(start, comma - start));
        start = comma + 2;
    }
    return entries;
}

void answerExpired(HttpResponse& response) {
    answerPage(response, 410, "This link has expired",
               "<p>This sign-in link was already used or is older than 15 minutes. Ask for a "
               "new one on Velvox's Home page.</p>");
}

bool providerFailed(const ProviderResult& result, HttpResponse& response) {
    switch (result.kind) {
        case ProviderResult::Kind::text:
            return false;
        case ProviderResult::Kind::tooLarge:
            answerJson(response, 413, {{"error", "too_large"}});
            return true;
        case ProviderResult::Kind::badInput:
            answerJson(response, 400, {{"error", "bad_audio"}});
            return true;
        case ProviderResult::Kind::unavailable:
            answerJson(response, 503, {{"error", "provider_unavailable"}});
            return true;
    }
    return true;
}

// Who is asking: a signed-in account, an install on trial, or nobody we serve.
struct Caller {
    std::optional<Account> account;
    std::string install;

    // Whose polishes are counted: the account on every device, or the install.
    std::string polishOwner() const {
        return account ? "account " + std::to_string(account->id) : "install " + install;
    }
};

}  // namespace

std::string accountEmail(std::string_view given) {
    std::string trimmed = Strings::trim(given);
    for (char& c : trimmed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return trimmed;
}

int64_t systemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t weekStart(int64_t now) {
    constexpr int64_t day = 86400;
    int64_t days = now >= 0 ? now / day : (now - day + 1) / day;
    int64_t sinceMonday = ((days + 3) % 7 + 7) % 7;  // 1 January 1970 was a Thursday
    return (days - sinceMonday) * day;
}

namespace {

// Chinese and Japanese are written without spaces; each ideograph or kana
// counts as a word, as word processors count them.
bool wordByItself(char32_t c) {
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF66 && c <= 0xFF9F) || (c >= 0x20000 && c <= 0x3FFFF);
}

// The code point that starts at `at` (advanced past it); a broken sequence
// is one unit of its first byte.
char32_t nextCodePoint(const std::string& text, size_t& at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    int length = lead < 0x80         ? 1
                 : (lead >> 5) == 6  ? 2
                 : (lead >> 4) == 14 ? 3
                 : (lead >> 3) == 30 ? 4
                                     : 1;
    if (at + length > text.size()) length = 1;
    for (int i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) length = 1;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) c = (c << 6) | (byte(at + i) & 0x3F);
    at += length;
    return c;
}

}  // namespace

int64_t countWords(const std::string& text) {
    int64_t words = 0;
    bool inWord = false;
    for (size_t at = 0; at < text.size();) {
        char32_t c = nextCodePoint(text, at);
        bool space = (c < 0x80 && std::isspace(static_cast<int>(c))) || c == 0x3000 || c == 0xA0;
        if (wordByItself(c)) {
            ++words;
            inWord = false;
            continue;
        }
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    return words;
}

std::string clientAddress(const HttpRequest& request, const std::string& trustedProxy) {
    if (trustedProxy.empty() || request.remoteAddress != trustedProxy ||
        !request.hasHeader("X-Forwarded-For"))
        return request.remoteAddress;
    // The proxy appends the address it saw, to the header or as a header line
    // of its own; what comes before it is the client's own say and proves nothing.
    size_t lines = request.headerCount("X-Forwarded-For");
    std::string forwarded = request.header("X-Forwarded-For", lines - 1);
    std::string last = Strings::trim(std::string_view(forwarded).substr(forwarded.rfind(',') + 1));
    return last.empty() ? request.remoteAddress : last;
}

Service::Service(const Settings& settings, Store& store, const Mailer& mailer, Providers& providers,
                 NowFunction now)
    : settings_(settings),
      store_(store),
      mailer_(mailer),
      providers_(providers),
      now_(std::move(now)) {}

void Service::install(HttpServer& server) {
    server.trustProxy(settings_.trustedProxy);
    // Requests from the application carry its secret; the pages a browser
    // opens (the mailed link, the upgrade page) cannot.
    server.checkHeaders([this](const HttpRequest& request, HttpResponse& response) {
        if (settings_.trustedProxy.empty() && request.hasHeader("X-Forwarded-For") &&
            !toldOfProxy_.exchange(true))
            ServiceLog::write("requests come through a proxy at " + request.remoteAddress +
                              ", and VELVOX_SERVICE_TRUSTED_PROXY is not set: every client "
                              "shares that address's sign-in limit");
        const bool browserPage = request.path == "/v1/auth/verify" ||
                                 request.path == "/v1/auth/google" || request.path == "/upgrade";
        if (browserPage || !request.path.starts_with("/v1/")) return false;
        if (Secrets::equal(request.header("X-Velvox-App"), settings_.appSecret)) return false;
        answerJson(response, 403, {{"error", "unknown_app"}});
        return true;
    });
    server.answerFailures([](std::exception_ptr failure, HttpResponse& response) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& error) {
            ServiceLog::write(std::string("failed: ") + error.what());
        } catch (...) {
            ServiceLog::write("failed: unknown error");
        }
        answerJson(response, 503, {{"error", "unavailable"}});
    });
    server.logAnswers([](const HttpRequest& request, const HttpResponse& response) {
        ServiceLog::write(
            (request.method.empty() ? "unreadable request" : request.method + " " + request.path) +
            " " + std::to_string(response.status));
    });

    auto caller = [this](const HttpRequest& request,
                         HttpResponse& response) -> std::optional<Caller> {
        if (auto token = bearer(request)) {
            auto account = token->starts_with("ovk_")
                               ? store_.accountForToken(Secrets::hash(*token))
                               : std::nullopt;
            if (!account) {
                answerJson(response, 401,
                           {{"ok", false}, {"signedIn", false}, {"error", "unknown_token"}});
                return std::nullopt;
            }
            return Caller{account, {}};
        }
        return Caller{std::nullopt, request.header("X-Velvox-Install")};
    };

    server.route("GET", "/v1/me", 0, RouteWork::quick,
                 [this, caller](const HttpRequest& request, HttpResponse& response) {
                     auto who = caller(request, response);
                     if (!who) return;
                     if (who->account) {
                         answerJson(
                             response, 200,
                             {{"ok", true},
                              {"signedIn", true},
                              {"email", who->account->email},
                              {"plan", who->account->plan},
                              {"used", store_.wordsUsed(who->account->id, weekStart(now_()))},
                              {"cap", settings_.capFor(who->account->plan)}});
                         return;
                     }
                     int goes = who->install.empty() ? 0 : store_.trialGoesUsed(who->install);
                     answerJson(response, 200,
                                {{"ok", true},
                                 {"signedIn", false},
                                 {"email", ""},
                                 {"plan", "trial"},
                                 {"used", goes},
                                 {"cap", settings_.trialGoes}});
                 });

    server.route(
        "POST", "/v1/transcribe", kMaxBodyBytes, RouteWork::slow,
        [this, caller](const HttpRequest& request, HttpResponse& response) {
            auto who = caller(request, response);
            if (!who) return;
            std::string audio =
                request.isMultipart() ? request.formPart("file").value_or("") : request.body;
            if (audio.empty()) return answerJson(response, 400, {{"error", "no_audio"}});

            const int64_t week = weekStart(now_());
            if (who->account) {
                const int64_t id = who->account->id;
                const int64_t cap = settings_.capFor(who->account->plan);
                if (!store_.reserveWord(id, week, cap)) {
                    return answerJson(response, 402,
                                      {{"error", "allowance_used"},
                                       {"used", store_.wordsUsed(id, week)},
                                       {"cap", cap}});
                }
                auto result = providers_.transcribe(audio, vocabularyOf(request));
                if (providerFailed(result, response)) return (void)store_.settleWords(id, week, {});
                // Speech the provider heard costs a word even when it wrote none.
                int64_t total =
                    store_.settleWords(id, week,
                                       {.words = std::max<int64_t>(1, countWords(result.text)),
                                        .seconds = billedSeconds(result),
                                        .polishOwner = who->polishOwner(),
                                        .transcriptBytes = static_cast<int64_t>(result.text.size()),
                                        .polishesWaiting = kPolishesWaiting});
                return answerJson(response, 200,
                                  {{"text", result.text}, {"used", total}, {"cap", cap}});
            }
            if (who->install.empty())
                return answerJson(response, 401, {{"error", "sign_in_needed"}});
            // The install id is the client's own choice; its address and the
            // day's total are not.
            const int64_t day = now_() / 86400;
            const std::string fromAddress =
                "trial from " + clientAddress(request, settings_.trustedProxy);
            // Taken in this order, given back from the first `taken`.
            auto giveBack = [&](int taken) {
                if (taken > 0) store_.returnToBudget(fromAddress, day);
                if (taken > 1) store_.returnToBudget("trial", day);
                if (taken > 2) store_.returnTrialGo(who->install);
            };
            int taken = store_.takeFromBudget(fromAddress, day, settings_.trialPerAddress) ? 1 : 0;
            if (taken == 1 && store_.takeFromBudget("trial", day, settings_.trialDaily)) ++taken;
            if (taken == 2 && store_.takeTrialGo(who->install, settings_.trialGoes)) ++taken;
            if (taken < 3) {
                giveBack(taken);
                return answerJson(response, 402,
                                  {{"error", "trial_over"}, {"cap", settings_.trialGoes}});
            }
            auto result = providers_.transcribe(audio, vocabularyOf(request));
            // A go the provider could not serve is not a go.
            if (providerFailed(result, response)) return giveBack(taken);
            // Each served transcription may be polished once; speech that gave
            // no text has nothing to polish.
            if (!result.text.empty())
                store_.grantPolish(who->polishOwner(), kPolishesWaiting,
                                   static_cast<int64_t>(result.text.size()));
            answerJson(response, 200, {{"text", result.text}});
        });

    // Polishing follows a transcription this service served: each one may be
    // polished once, so the transcript that passed the cap (or used the last
    // trial go) is still polished, and polishing alone is not a free service.
    server.route(
        "POST", "/v1/polish", kMaxPolishBytes, RouteWork::slow,
        [this, caller](const HttpRequest& request, HttpResponse& response) {
            auto who = caller(request, response);
            if (!who) return;
            auto body = Answers::object(request.body);
            auto system = body ? Answers::stringMember(*body, "system") : std::nullopt;
            auto text = body ? Answers::stringMember(*body, "text") : std::nullopt;
            if (!system || !text) return answerJson(response, 400, {{"error", "bad_request"}});
            if (!who->account && who->install.empty())
                return answerJson(response, 401, {{"error", "sign_in_needed"}});
            auto transcriptBytes = store_.takePolish(who->polishOwner());
            if (!transcriptBytes) {
                if (!who->account)
                    return answerJson(response, 402,
                                      {{"error", "trial_over"}, {"cap", settings_.trialGoes}});
                int64_t used = store_.wordsUsed(who->account->id, weekStart(now_()));
                return answerJson(response, 402,
                                  {{"error", "allowance_used"},
                                   {"used", used},
                                   {"cap", settings_.capFor(who->account->plan)}});
            }
            // A polish is the rewrite of one transcript: what goes in beside
            // the instructions, and what comes out, is of its size.
            const int64_t bytes = *transcriptBytes;
            const auto giveBack = [&] {
                store_.grantPolish(who->polishOwner(), kPolishesWaiting, bytes);
            };
            if (system->size() > kMaxInstructionBytes ||
                static_cast<int64_t>(text->size()) > 2 * bytes + 256) {
                giveBack();
                return answerJson(response, 413, {{"error", "too_large"}});
            }
            auto result = providers_.polish(
                *system, *text, static_cast<int>(std::min<int64_t>(kMaxPolishTokens, 64 + bytes)));
            if (providerFailed(result, response)) return giveBack();
            answerJson(response, 200, {{"text", result.text}});
        });

    server.route(
        "POST", "/v1/auth/start", kMaxSmallBodyBytes, RouteWork::slow,
        [this](const HttpRequest& request, HttpResponse& response) {
            auto body = Answers::object(request.body);
            auto given = body ? Answers::stringMember(*body, "email") : std::nullopt;
            std::string email = accountEmail(given.value_or(""));
            if (!plausibleEmail(email)) {
                return answerJson(response, 400,
                                  {{"error", "bad_email"},
                                   {"message", "That e-mail address does not look right."}});
            }
            const int64_t now = now_();
            const std::string client = clientAddress(request, settings_.trustedProxy);
            std::string code = Secrets::randomText();
            // A stranger asking for someone's address locks that address out
            // from their own address only; the looser limit per address holds
            // a mail bomb from many clients.
            CodeLimits limits{.perEmailAndClient = kCodesPerEmailPerLifetime,
                              .perEmail = kCodesPerEmailFromAnywhere,
                              .emailSince = now - kCodeLifetimeSeconds,
                              .perClient = kCodesPerClientPerHour,
                              .clientSince = now - 3600};
            if (!store_.addCodeWithinLimits(Secrets::hash(code), email, client, now,
                                            now + kCodeLifetimeSeconds, limits)) {
                return answerJson(
                    response, 429,
                    {{"error", "rate_limited"},
                     {"message", "Too many sign-in requests. Wait a few minutes and try again."}});
            }
            std::string link = settings_.publicUrl + "/v1/auth/verify?code=" + code;
            std::string text =
                "Open this link on the computer where Velvox runs to sign in:\n\n" + link +
                "\n\nThe link works once, for 15 minutes. If you did not ask for it, "
                "ignore this message.\n";
            if (auto failure = mailer_.send(email, "Sign in to Velvox", text)) {
                store_.removeCode(Secrets::hash(code));
                ServiceLog::write("sign-in mail could not be sent: " + *failure);
                return answerJson(
                    response, 503,
                    {{"error", "mail_failed"},
                     {"message", "The sign-in e-mail could not be sent. Try again in a moment."}});
            }
            answerJson(response, 200, {{"ok", true}});
        });

    // The mailed link opens a form that spends the code with a POST: fetching
    // the link alone, as mail scanners do, signs nobody in.
    server.route(
        "GET", "/v1/auth/verify", 0, RouteWork::quick,
        [](const HttpRequest& request, HttpResponse& response) {
            std::string code = request.param("code");
            if (code.empty() || !std::all_of(code.begin(), code.end(), [](unsigned char c) {
                    return std::isalnum(c) || c == '-' || c == '_';
                }))
                return answerExpired(response);
            answerPage(response, 200, "Sign in to Velvox",
                       "<form method=\"post\" action=\"verify\"><input type=\"hidden\" "
                       "name=\"code\" value=\"" +
                           code +
                           "\"><p><button>Sign in on this computer</button></p></form><script>" +
                           kSubmitScript + "</script>");
        });

    server.route(
        "POST", "/v1/auth/verify", kMaxSmallBodyBytes, RouteWork::quick,
        [this](const HttpRequest& request, HttpResponse& response) {
            std::string code = request.param("code");
            auto email =
                code.empty() ? std::nullopt : store_.consumeCode(Secrets::hash(code), now_());
            if (!email) return answerExpired(response);
            const int64_t now = now_();
            Account account = store_.accountForEmail(*email, now);
            std::string token = Secrets::newToken();
            store_.addToken(Secrets::hash(token), account.id, now);
            // The token is base64url: nothing in it needs escaping.
            std::string callback = "velvox://auth?token=" + token;
            answerPage(response, 200, "You are signed in",
                       "<p><a class=\"button\" href=\"" + callback +
                           "\">Open Velvox</a></p><p>If Velvox did not open, copy this token into "
                           "the account box on Velvox's Home page:</p><p><code>" +
                           token + "</code></p>",
                       "<meta http-equiv=\"refresh\" content=\"0;url=" + callback + "\">");
        });

    server.route("GET", "/v1/auth/google", 0, RouteWork::quick,
                 [](const HttpRequest&, HttpResponse& response) {
                     answerPage(
                         response, 200, "E-mail sign-in only",
                         "<p>This Velvox server offers sign-in by e-mail link only. Enter your "
                         "address on Velvox's Home page.</p>");
                 });

    server.route("GET", "/v1/billing/summary", 0, RouteWork::quick,
                 [this, caller](const HttpRequest& request, HttpResponse& response) {
                     auto who = caller(request, response);
                     if (!who) return;
                     if (!who->account)
                         return answerJson(response, 401, {{"error", "sign_in_needed"}});
                     nlohmann::json summary = {{"plan", who->account->plan}};
                     if (!settings_.upgradeUrl.empty())
                         summary["upgradeUrl"] = settings_.upgradeUrl;
                     answerJson(response, 200, summary);
                 });

    server.route("POST", "/v1/billing/portal", kMaxSmallBodyBytes, RouteWork::quick,
                 [this, caller](const HttpRequest& request, HttpResponse& response) {
                     auto who = caller(request, response);
                     if (!who) return;
                     if (!who->account)
                         return answerJson(response, 401, {{"error", "sign_in_needed"}});
                     if (settings_.billingUrl.empty())
                         return answerJson(response, 404, {{"error", "no_billing"}});
                     answerJson(response, 200, {{"overview", settings_.billingUrl}});
                 });

    server.route(
        "GET", "/upgrade", 0, RouteWork::quick, [this](const HttpRequest&, HttpResponse& response) {
            if (!settings_.upgradeUrl.empty()) return response.redirect(settings_.upgradeUrl);
            answerPage(response, 200, "Plans",
                       "<p>This Velvox server gives every account its weekly allowance of " +
                           std::to_string(settings_.weeklyWords) +
                           " words. Ask the people who run it about more.</p>");
        });
}

}  // namespace velvox::service
