#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include <sqlite3.h>

#include <pqxx/pqxx>
#include "PostgresServer.h"
#include "Service.h"
#include "SmtpSink.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "support/LoopbackServer.h"
#include "support/ResidentMemory.h"
#include "support/Shell.h"

namespace velvox::service {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

// The application's own secret, so that the real program is let in too.
const std::string kSecret = API::appSecretForSettings();
const char* const kTranscriptionPath = "/openai/v1/audio/transcriptions";
const int64_t kWednesday = 1765353600;  // 2025-12-10 08:00 UTC

// Every case runs against each store: the embedded one and PostgreSQL.
class ServiceTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "velvox-service-XXXXXX";
        folder = ::mkdtemp(pattern.data());
        settings.database = GetParam() == "sqlite" ? "sqlite://" + (folder / "velvox.db").string()
                                                   : testing::PostgresServer::shared().url();
        if (GetParam() != "sqlite") sql("DROP SCHEMA public CASCADE; CREATE SCHEMA public");
        store = openStore(settings.database);
        store->migrate();
        groq.answer(kTranscriptionPath, 200, R"({"text":" one two three four\n"})");
        groq.answer("/openai/v1/chat/completions", 200,
                    R"({"choices":[{"message":{"content":" Polished. "}}]})");
        settings.groqBase = groq.base();
        settings.smtpUrl = sink.url();
        settings.mailFrom = "velvox@example.org";
        settings.groqKey = "gsk_server_key";
        settings.appSecret = kSecret;
        settings.weeklyWords = 10;
        settings.trialGoes = 2;
        providers = std::make_unique<Providers>(settings, std::make_shared<CurlHttpClient>());
        mailer = std::make_unique<Mailer>(settings.smtpUrl, settings.mailFrom);
        service = std::make_unique<Service>(settings, *store, *mailer, *providers,
                                            [this] { return now.load(); });
        service->install(server);
        port = server.bind("127.0.0.1", 0);
        server.start();
        settings.publicUrl = "http://127.0.0.1:" + std::to_string(port);
        client = std::make_unique<httplib::Client>("127.0.0.1", port);
        client->set_default_headers({{"X-Velvox-App", kSecret}});
        browser = std::make_unique<httplib::Client>("127.0.0.1", port);  // without the secret
    }
    void TearDown() override {
        server.stop();
        server.wait();
        std::filesystem::remove_all(folder);
    }

    struct Answer {
        int status = 0;
        json body;
        std::string text;
    };
    static Answer read(const httplib::Result& result) {
        if (!result) return {};
        return {result->status, json::parse(result->body, nullptr, false), result->body};
    }
    Answer get(const std::string& path, const httplib::Headers& headers = {}) {
        return read(client->Get(path.c_str(), headers));
    }
    // Sends the body as the route takes it: audio, the sign-in page's form, or JSON.
    Answer post(const std::string& path, const std::string& body,
                const httplib::Headers& headers = {}, std::string type = "") {
        if (type.empty())
            type = path == "/v1/transcribe"    ? "application/octet-stream"
                   : path == "/v1/auth/verify" ? "application/x-www-form-urlencoded"
                                               : "application/json";
        return read(client->Post(path.c_str(), headers, body, type.c_str()));
    }
    static httplib::Headers bearer(const std::string& token) {
        return {{"Authorization", "Bearer " + token}};
    }
    Answer transcribe(const httplib::Headers& who) { return post("/v1/transcribe", "m4a", who); }
    Answer polish(const httplib::Headers& who) {
        return post("/v1/polish", R"({"system":"s","text":"t"})", who);
    }
    static std::string find(const std::string& text, const char* pattern) {
        std::smatch match;
        return std::regex_search(text, match, std::regex(pattern)) ? std::string(match[1]) : "";
    }

    Answer startSignIn(const std::string& email) {
        return post("/v1/auth/start", json{{"email", email}}.dump());
    }
    std::string mailedCode(const std::string& email) {
        EXPECT_EQ(startSignIn(email).status, 200);
        std::string code =
            find(sink.messages().back().data, "/v1/auth/verify\\?code=([A-Za-z0-9_-]+)");
        EXPECT_FALSE(code.empty());
        return code;
    }
    // Follows the mailed link as a browser does (its form posts the code back): the token or "".
    // Opening the page spends nothing, as a mail scanner's fetch must not.
    std::string tokenFromLink(const std::string& code) {
        if (read(browser->Get("/v1/auth/verify?code=" + code)).status != 200) return {};
        auto form =
            browser->Post("/v1/auth/verify", "code=" + code, "application/x-www-form-urlencoded");
        return find(read(form).text, "velvox://auth\\?token=(ovk_[A-Za-z0-9_-]+)");
    }
    std::string signIn(const std::string& email) { return tokenFromLink(mailedCode(email)); }
    // Runs a statement on the database behind the store's back.
    void sql(const std::string& statement) {
        if (GetParam() != "sqlite") {
            pqxx::connection connection(settings.database);
            return (void)pqxx::nontransaction(connection).exec(statement);
        }
        sqlite3* db = nullptr;
        sqlite3_open((folder / "velvox.db").c_str(), &db);
        sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }

    std::filesystem::path folder;
    Settings settings;
    std::unique_ptr<Store> store;
    testing::LoopbackServer groq;
    testing::SmtpSink sink;
    std::unique_ptr<Providers> providers;
    std::unique_ptr<Mailer> mailer;
    std::unique_ptr<Service> service;
    std::atomic<int64_t> now{kWednesday};
    HttpServer server;
    std::unique_ptr<httplib::Client> client, browser;
    int port = 0;
};

// What came back on a raw connection, and whether the server closed it.
struct Exchange {
    std::string received;
    bool closed = false;
};

// A raw client connection, from a loopback address of its choosing (all of
// 127/8 is this machine), to play the clients a library would not.
class Peer {
  public:
    Peer(int port, const char* from = "127.0.0.1") : sock_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in source{AF_INET, 0, {::inet_addr(from)}};
        sockaddr_in server{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}};
        connected_ = ::bind(sock_, reinterpret_cast<sockaddr*>(&source), sizeof source) == 0 &&
                     ::connect(sock_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~Peer() { ::close(sock_); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Sends, keeping what comes back meanwhile (a server that refused may
    // answer long before the last byte); false once it takes no more.
    bool send(std::string_view bytes) {
        collect(MSG_DONTWAIT);
        return connected_ && ::send(sock_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                                 static_cast<ssize_t>(bytes.size());
    }
    // Whether the server has closed the connection, without waiting.
    bool closedByServer() {
        collect(MSG_DONTWAIT);
        return result_.closed;
    }
    // Reads until the server closes, `until` arrives or 20 s pass.
    Exchange finish(const std::string& until = "") {
        timeval wait{20, 0};
        ::setsockopt(sock_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (!until.empty() && result_.received.ends_with(until)) return result_;
        collect(0, until);
        return result_;
    }

  private:
    void collect(int flags, const std::string& until = "") {
        ssize_t got = 0;
        for (char chunk[4096];
             !result_.closed && (got = ::recv(sock_, chunk, sizeof chunk, flags)) > 0;) {
            result_.received.append(chunk, static_cast<size_t>(got));
            if (!until.empty() && result_.received.ends_with(until)) return;
        }
        result_.closed = result_.closed || got == 0 || (got < 0 && errno == ECONNRESET);
    }

    int sock_;
    bool connected_ = false;
    Exchange result_;
};

// Sends `sent`, then `later` after `pause`; what came back.
Exchange exchange(int port, const std::string& sent, const std::string& later = "",
                  std::chrono::milliseconds pause = {}, const std::string& until = "") {
    Peer peer(port);
    peer.send(sent);
    std::this_thread::sleep_for(pause);
    peer.send(later);
    return peer.finish(until);
}

TEST_P(ServiceTest, MailedLinkSignsInAndKeepsNoSecretInTheLogOrTheDatabase) {
    ::testing::internal::CaptureStderr();
    // A path made to forge a line, and to colour the operator's terminal; its
    // line is written after the answer, well before the sign-in below ends.
    EXPECT_EQ(get("/v1/x%0a2026-01-01T00:00:00Z%20GET%20/v1/me%20200%1b[31m\\").status, 404);
    std::string code = mailedCode(" Ann@Example.org ");
    std::string token = tokenFromLink(code);
    // Behind a proxy the operator did not name, every client has the proxy's
    // address: said once, at the first such request.
    for (int request = 0; request < 2; ++request)
        EXPECT_EQ(get("/v1/me", {{"X-Forwarded-For", "1.2.3.4"}}).status, 200);
    // Bytes that are no request, after one that was: logged as what they are.
    exchange(port, "GET /v1/me HTTP/1.1\r\nHost: x\r\n\r\n\x01\x02 \r\n\r\n");
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr(" unreadable request 400\n"));
    EXPECT_THAT(
        log, HasSubstr(" GET /v1/x\\x0a2026-01-01T00:00:00Z GET /v1/me 200\\x1b[31m\\x5c 404\n"));
    const std::string told =
        "requests come through a proxy at 127.0.0.1, and VELVOX_SERVICE_TRUSTED_PROXY is not set";
    ASSERT_THAT(log, HasSubstr(told));
    EXPECT_EQ(log.find(told, log.find(told) + 1), std::string::npos) << "once";
    for (const char* page : {"/v1/auth/google", "/upgrade"})
        EXPECT_EQ(read(browser->Get(page)).status, 200) << page;
    ASSERT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.messages()[0].recipient, "ann@example.org");
    EXPECT_NE(sink.messages()[0].data.find(settings.publicUrl + "/v1/auth/verify?code="),
              std::string::npos);
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(get("/v1/me", bearer(token)).body,
              json::parse(R"({"ok":true,"signedIn":true,"email":"ann@example.org","plan":"free",
                              "used":0,"cap":10})"));
    EXPECT_EQ(get("/v1/billing/summary", bearer(token)).body, (json{{"plan", "free"}}));
    for (const std::string& secret : {code, token, std::string("ann@example.org")})
        EXPECT_EQ(log.find(secret), std::string::npos);
    if (GetParam() != "sqlite") return;
    std::ifstream file(folder / "velvox.db", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    for (const std::string& secret : {code, token})
        EXPECT_EQ(bytes.find(secret), std::string::npos);
    // Files left open to everyone, by an older version or by hand, are made private.
    store.reset();
    for (const char* file : {"velvox.db", "velvox.db-wal", "velvox.db-shm"}) {
        std::ofstream(folder / file, std::ios::app).flush();
        std::filesystem::permissions(folder / file, std::filesystem::perms::all);
    }
    store = openStore(settings.database);
    for (const char* file : {"velvox.db", "velvox.db-wal", "velvox.db-shm"})
        EXPECT_EQ(std::filesystem::status(folder / file).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
            << file;
}

TEST_P(ServiceTest, LinksWorkOnceWhileFreshAndAreRateLimitedPerAddress) {
    std::string used = mailedCode("a@x.org"), expired = mailedCode("b@x.org");
    EXPECT_NE(tokenFromLink(used), "");
    for (auto [name, code] : std::vector<std::pair<const char*, std::string>>{
             {"replayed", used}, {"expired", expired}, {"unknown", "not-a-code"}, {"empty", ""}}) {
        if (code == expired) now += 15 * 60;
        EXPECT_EQ(post("/v1/auth/verify", "code=" + code).status, 410) << name;
        EXPECT_EQ(tokenFromLink(code), "") << name;
    }
    EXPECT_EQ(get("/v1/auth/verify?code=%22%3E%3Cscript%3E").status, 410);
    // Mails the server refused reached nobody: they say why, and count toward no limit.
    sink.refuseRecipients(true);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(startSignIn("ann@example.org").status, 503);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("sign-in mail could not be sent: "));
    EXPECT_THAT(log, HasSubstr("(server reply 550)"));
    EXPECT_EQ(log.find("ann@example.org"), std::string::npos);
    sink.refuseRecipients(false);
    for (int i = 0; i < 3; ++i) mailedCode("ann@example.org");
    Answer fourth = startSignIn("ann@example.org");
    EXPECT_EQ(fourth.status, 429);
    EXPECT_TRUE(fourth.body["message"].is_string());
    EXPECT_EQ(sink.messages().size(), 5u);

    // Whoever asked three times for Ann's address locked it out for their own address only.
    settings.trustedProxy = "127.0.0.1";
    auto from = [&](const char* client, const std::string& email) {
        httplib::Client own("127.0.0.1", port);
        own.set_default_headers({{"X-Velvox-App", kSecret}, {"X-Forwarded-For", client}});
        return read(own.Post("/v1/auth/start", json{{"email", email}}.dump(), "application/json"))
            .status;
    };
    EXPECT_EQ(from("5.6.7.8", "ann@example.org"), 200);
    // Thirty at once from one client for one address: three mails, on every store.
    std::vector<std::thread> askers;
    std::atomic<int> sent{0}, limited{0};
    for (int asker = 0; asker < 30; ++asker)
        askers.emplace_back([&] { ++(from("9.9.9.9", "zed@x.org") == 200 ? sent : limited); });
    for (auto& asker : askers) asker.join();
    EXPECT_EQ(std::make_pair(sent.load(), limited.load()), std::make_pair(3, 27));
    EXPECT_EQ(sink.messages().size(), 9u);
}

TEST_P(ServiceTest, WordsAreCountedUntilTheCapThenTheAnswerIs402AndPolishingUsesTheServersKeys) {
    auto who = bearer(signIn("ann@example.org"));
    who.emplace("X-Velvox-Vocab", "Redis, SQLite");
    // Four words a go against a cap of ten: the third go passes the cap and is still polished.
    for (int used : {4, 8, 12}) {
        Answer answer = transcribe(who);
        EXPECT_EQ(answer.body, (json{{"text", "one two three four"}, {"used", used}, {"cap", 10}}));
        EXPECT_EQ(polish(who).body, (json{{"text", "Polished."}}));
    }
    const json capped{{"error", "allowance_used"}, {"used", 12}, {"cap", 10}};
    for (const Answer& over : {transcribe(who), polish(who)})
        EXPECT_EQ(std::make_pair(over.status, over.body), std::make_pair(402, capped));
    auto sent = groq.requests();
    ASSERT_EQ(sent.size(), 6u);
    std::map<std::string, std::string> parts;
    for (const auto& part : sent[0].parts) parts[part.name] = part.content;
    EXPECT_EQ(parts["prompt"] + "|" + parts["file"], "Redis, SQLite|m4a");
    now = weekStart(kWednesday) + 7 * 86400;
    EXPECT_EQ(transcribe(who).body["used"], 4);
    // Polishing goes to Anthropic when the server has its key.
    settings.anthropicKey = "sk-ant-server";
    settings.anthropicBase = groq.base();
    groq.answer("/v1/messages", 200, R"({"content":[{"type":"text","text":"From Claude."}]})");
    EXPECT_EQ(polish(who).body, (json{{"text", "From Claude."}}));
    auto toClaude = groq.lastRequest();
    EXPECT_EQ(toClaude.path + " " + toClaude.header("x-api-key"), "/v1/messages sk-ant-server");
    json body = json::parse(toClaude.body);
    EXPECT_EQ(body["system"], "s");
    EXPECT_EQ(body["messages"][0]["content"], "t");
}

// Concurrent transcriptions lose no words, and cannot all pass the last
// free words of the week together.
TEST_P(ServiceTest, ConcurrentTranscriptionsLoseNoWordsAndHoldTheCap) {
    settings.weeklyWords = int64_t{1} << 40;  // past 32 bits, as plans without a cap are
    auto who = bearer(signIn("ann@example.org"));
    auto together = [&](int senders, int each) {
        std::vector<std::thread> workers;
        std::atomic<int> served{0}, capped{0};
        for (int worker = 0; worker < senders; ++worker) {
            workers.emplace_back([&] {
                httplib::Client own("127.0.0.1", port);
                own.set_default_headers({{"X-Velvox-App", kSecret}});
                for (int go = 0; go < each; ++go) {
                    auto result =
                        own.Post("/v1/transcribe", who, "m4a", "application/octet-stream");
                    ++(result && result->status == 200 ? served : capped);
                }
            });
        }
        for (auto& worker : workers) worker.join();
        return std::make_pair(served.load(), capped.load());
    };
    EXPECT_EQ(together(8, 5), std::make_pair(40, 0));
    EXPECT_EQ(get("/v1/me", who).body["used"], 8 * 5 * 4);
    // Four words short of the cap: at most four go through (fewer when one
    // was settled before the last reserved), each still served whole.
    settings.weeklyWords = 8 * 5 * 4 + 4;
    auto [served, capped] = together(30, 1);
    EXPECT_TRUE(served >= 1 && served <= 4) << served;
    EXPECT_EQ(served + capped, 30);
    EXPECT_EQ(get("/v1/me", who).body["used"], 8 * 5 * 4 + 4 * served);
}

TEST_P(ServiceTest, TrialGivesItsGoesAndAProviderFailureCostsNone) {
    httplib::Headers install{{"X-Velvox-Install", "install-1"}};
    // A provider that refuses the audio, one that fails, and one that does not answer in time.
    groq.answer(kTranscriptionPath, 400, "{}");
    auto refused = transcribe(install);
    EXPECT_EQ(std::make_pair(refused.status, refused.body),
              std::make_pair(400, json{{"error", "bad_audio"}}));
    groq.answer(kTranscriptionPath, 500, "{}");
    EXPECT_EQ(transcribe(install).status, 503);
    settings.providerTimeoutSeconds = 0.5;
    groq.answer(kTranscriptionPath, {200, R"({"text":"late"})", "application/json", false,
                                     std::chrono::milliseconds(1500)});
    EXPECT_EQ(transcribe(install).status, 503);
    settings.providerTimeoutSeconds = 55;
    groq.answer(kTranscriptionPath, 200, R"({"text":"hi"})");
    EXPECT_EQ(transcribe(install).body, (json{{"text", "hi"}}));
    EXPECT_EQ(polish(install).body, (json{{"text", "Polished."}}));
    EXPECT_EQ(transcribe(install).status, 200);
    EXPECT_EQ(transcribe(install).body, (json{{"error", "trial_over"}, {"cap", 2}}));
    // The last go is polished; polishing alone is not a free service.
    EXPECT_EQ(polish(install).status, 200);
    EXPECT_EQ(polish(install).body, (json{{"error", "trial_over"}, {"cap", 2}}));
    EXPECT_EQ(get("/v1/me").body, json::parse(R"({"ok":true,"signedIn":false,"email":"",
                                                  "plan":"trial","used":0,"cap":2})"));
}

TEST_P(ServiceTest, BadRequestsAreRefusedWithTheirOwnStatus) {
    std::string token = signIn("ann@example.org");
    std::string revoked = signIn("bob@example.org");
    store->revokeTokens("bob@example.org");
    auto who = bearer(token);
    // clang-format off
    struct Case { const char* name; std::function<Answer()> send; int status; } cases[] = {
        {"wrong app secret", [&] { return transcribe({{"X-Velvox-App", "x"}}); }, 403},
        {"unknown token", [&] { return get("/v1/me", bearer("ovk_nobody")); }, 401},
        {"revoked token", [&] { return transcribe(bearer(revoked)); }, 401},
        {"no token, no install", [&] { return transcribe({}); }, 401},
        {"empty audio", [&] { return post("/v1/transcribe", "", who); }, 400},
        {"malformed multipart", [&] { return post("/v1/transcribe", "--b\r\nno headers here", who,
                                                  "multipart/form-data; boundary=b"); }, 400},
        {"polish, no text", [&] { return post("/v1/polish", R"({"system":"s"})", who); }, 400},
        {"polish, no token, no install", [&] { return polish({}); }, 401},
        {"polish nested 40 deep", [&] { return post("/v1/polish", R"({"system":"s","text":"t","x":)" +
            std::string(40, '[') + std::string(40, ']') + "}", who); }, 400},
        {"brackets in a string are text", [&] { return post("/v1/polish", R"({"system":"s","text":")" +
            std::string(40, '[') + R"(\""})", who); }, 402},
        {"polish of nothing transcribed", [&] { return polish(who); }, 402},
        {"the audio as a form's file", [&] { return post("/v1/transcribe",
            "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.m4a\"\r\n"
            "Content-Type: audio/mp4\r\n\r\nm4a\r\n--b--\r\n", who,
            "multipart/form-data; boundary=\"b\""); }, 200},
        {"a boundary past 70 characters", [&] { std::string b(71, 'b'); return post("/v1/transcribe",
            "--" + b + "\r\nContent-Disposition: form-data; name=file\r\n\r\nm4a\r\n--" + b + "--\r\n",
            who, "multipart/form-data; boundary=" + b); }, 400},
        {"mail refused", [&] { sink.refuseRecipients(true); return startSignIn("c@x.org"); }, 503},
        {"not an address", [&] { return startSignIn("a b@x"); }, 400},
        {"billing without token", [&] { return get("/v1/billing/summary"); }, 401},
        {"provider answers without end", [&] {
            groq.answer(kTranscriptionPath, 200,
                        R"({"text":")" + std::string(5 << 20, 'a') + R"("})");
            return transcribe(who); }, 503},
        // Last: the store stays broken, as after a failing disk or server.
        {"database fails", [&] { sql("DROP TABLE usage"); return transcribe(bearer(token)); }, 503},
    };
    // clang-format on
    for (auto& test : cases) EXPECT_EQ(test.send().status, test.status) << test.name;
    EXPECT_EQ(groq.requests().size(), 2u) << "only the form and the answer without end";
    EXPECT_EQ(get("/v1/me", bearer("ovk_nobody")).body["signedIn"], false);
}

// The install id is the client's to choose: a new one for each request gets
// no more than its address's goes of the day, and all trials together no
// more than the day's; the next day both start again.
TEST_P(ServiceTest, TheTrialIsBoundedByTheClientsAddressAndTheDay) {
    settings.trustedProxy = "127.0.0.1";
    settings.trialPerAddress = 3;
    settings.trialDaily = 5;
    int installs = 0;
    auto from = [&](const char* address) {
        return transcribe({{"X-Velvox-Install", "install-" + std::to_string(++installs)},
                           {"X-Forwarded-For", address}})
            .status;
    };
    // clang-format off
    struct Step { const char* address; int status; int64_t day = 0; bool providerFails = false; } steps[] = {
        {"1.1.1.1", 200}, {"1.1.1.1", 200}, {"1.1.1.1", 200}, {"1.1.1.1", 402},
        {"2.2.2.2", 200},
        {"3.3.3.3", 503, 0, true},  // a go the provider could not serve is given back
        {"2.2.2.2", 200}, {"3.3.3.3", 402},  // the day's five are spent
        {"3.3.3.3", 200, 1}, {"1.1.1.1", 200, 1},
    };
    // clang-format on
    for (const auto& step : steps) {
        now = kWednesday + step.day * 86400;
        groq.answer(kTranscriptionPath, step.providerFails ? 500 : 200,
                    step.providerFails ? "{}" : R"({"text":"hi"})");
        EXPECT_EQ(from(step.address), step.status) << step.address << " on day " << step.day;
    }
}

// A polish rewrites the transcript it follows: larger text or instructions
// are refused and the polish stays owed; the provider is asked for no more
// output than the transcript's size.
TEST_P(ServiceTest, APolishIsBoundedByTheTranscriptItFollows) {
    auto who = bearer(signIn("ann@example.org"));
    const std::string transcript = "one two three four";
    EXPECT_EQ(transcribe(who).status, 200);
    // clang-format off
    struct Case { const char* name; std::string system, text; int status; } cases[] = {
        {"text far longer than the transcript", "s", std::string(2 * transcript.size() + 257, 'a'), 413},
        {"instructions of 25 KB", std::string(25 * 1024, 's'), transcript, 413},
        {"the application's instructions and the transcript", std::string(20 * 1024, 's'), transcript, 200},
        {"no polish owed", "s", transcript, 402},
    };
    // clang-format on
    for (const auto& test : cases) {
        auto sent =
            post("/v1/polish", json{{"system", test.system}, {"text", test.text}}.dump(), who);
        EXPECT_EQ(sent.status, test.status) << test.name;
    }
    EXPECT_EQ(json::parse(groq.lastRequest().body)["max_tokens"], 64 + transcript.size());
    // Speech that gave no text costs a word, and there is nothing to polish.
    groq.answer(kTranscriptionPath, 200, R"({"text":"  "})");
    EXPECT_EQ(transcribe(who).body, (json{{"text", ""}, {"used", 5}, {"cap", 10}}));
    EXPECT_EQ(polish(who).status, 402);
}

// Hostile requests, each as its bytes: refused on what the server has read
// so far, the connection ended so that nothing after it is read as another
// request, and no more memory taken than the route's own limit.
TEST_P(ServiceTest, HostileRequestsAreRefusedOnTheirFirstBytes) {
    if (GetParam() != "sqlite") GTEST_SKIP() << "nothing here reaches the store";
    const std::string start = "POST /v1/auth/start HTTP/1.1\r\nHost: x\r\n";
    const std::string chunked = "Transfer-Encoding: chunked\r\n\r\n";
    const std::string mebibyteChunk = "100000\r\n" + std::string(1 << 20, '[') + "\r\n";
    std::string manyParts;
    for (int part = 0; part < 1100; ++part)
        manyParts += "--b\r\nContent-Disposition: form-data; name=\"p\"\r\n\r\nx\r\n";
    manyParts += "--b--\r\n";
    const std::string app = "X-Velvox-App: " + kSecret + "\r\nX-Velvox-Install: i\r\n";
    // clang-format off
    struct Case {
        const char* name; std::string sent; const char* status;
        std::string repeated = {}; int times = 0;
        // The connection goes on where the answer ends with this.
        const char* lastBytes = nullptr;
        // Growth of the resident memory allowed; 0: the route's own 26 MB
        // may be read (and kept, in the sanitizers' build, as it grew).
        size_t megabytes = 32;
    } cases[] = {
        {"30 MB declared, none sent",
         "POST /v1/transcribe HTTP/1.1\r\nHost: x\r\nContent-Length: 30000000\r\n\r\n", "413"},
        {"a sign-in of 5 KB", start + "Content-Length: 5000\r\n\r\n", "413"},
        {"a polish over 256 KB",
         "POST /v1/polish HTTP/1.1\r\nHost: x\r\nContent-Length: 262145\r\n\r\n{}", "413"},
        {"a request hidden in a refused body",
         start + "Content-Length: 5000\r\n\r\nGET /v1/me HTTP/1.1\r\nHost: x\r\n\r\n", "413"},
        {"a length beside chunks",
         start + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", "400"},
        {"two lengths", start + "Content-Length: 2\r\nContent-Length: 40\r\n\r\n{}", "400"},
        {"a length that is no number", start + "Content-Length: 2x\r\n\r\n{}", "400"},
        {"chunks of another coding", start + "Transfer-Encoding: gzip\r\n\r\n{}", "400"},
        {"chunks twice", start + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         "400"},
        {"300 MB in chunks to the sign-in form",
         "POST /v1/auth/verify HTTP/1.1\r\nHost: x\r\n" + chunked, "413", mebibyteChunk, 300},
        {"30 MB in chunks to the transcription",
         "POST /v1/transcribe HTTP/1.1\r\nHost: x\r\n" + app + chunked, "413", mebibyteChunk, 30,
         nullptr, 0},
        {"6,000 header lines of 8 KB", "GET /v1/me HTTP/1.1\r\nHost: x\r\n", "431",
         "X-Pad: " + std::string(8192, 'a') + "\r\n", 6000},
        // Read whole, then refused: the connection may go on.
        {"1,100 parts", "POST /v1/transcribe HTTP/1.1\r\nHost: x\r\n" + app +
             "Content-Type: multipart/form-data; boundary=b\r\nContent-Length: " +
             std::to_string(manyParts.size()) + "\r\n\r\n" + manyParts, "400", {}, 0, "}"},
        {"a page asked for in a thousand pieces", "GET /upgrade HTTP/1.1\r\nHost: x\r\nRange: bytes=0-" +
             [] { std::string many; for (int i = 0; i < 1000; ++i) many += ",0-"; return many; }() +
             "\r\n\r\n", "200", {}, 0, "</html>"},
    };
    // clang-format on
    for (const auto& test : cases) {
        const double before = testing::residentMegabytes();
        Peer peer(port);
        peer.send(test.sent);
        for (int time = 0; time < test.times && peer.send(test.repeated);) ++time;
        Exchange answer = peer.finish(test.lastBytes ? test.lastBytes : "");
        SCOPED_TRACE(test.name);
        EXPECT_TRUE(answer.received.starts_with(std::string("HTTP/1.1 ") + test.status))
            << answer.received.substr(0, 200);
        EXPECT_EQ(answer.closed, test.lastBytes == nullptr);
        EXPECT_EQ(answer.received.find("HTTP/1.1", 1), std::string::npos) << "one answer only";
        EXPECT_LT(answer.received.size(), 4096u);
        if (!test.lastBytes) {
            EXPECT_TRUE(answer.received.ends_with("{\"error\":\"too_large\"}") ||
                        answer.received.ends_with("{\"error\":\"headers_too_large\"}") ||
                        answer.received.ends_with("{\"error\":\"bad_request\"}"))
                << "a refusal says what it refused";
        }
        if (test.megabytes) {
            EXPECT_LT(testing::residentMegabytes(), before + test.megabytes);
        }
    }
    EXPECT_EQ(sink.messages().size(), 0u);
    EXPECT_EQ(groq.requests().size(), 0u);
}

std::pair<int, std::string> runBuilt(const std::string& commandLine) {
    auto built = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    return testing::runCommand("cd '" + built.string() + "' && " + commandLine + " 2>&1");
}

// The application itself, signed in through the mailed link, dictates through the service;
// the operator lists accounts, sets plans and revokes tokens.
TEST_P(ServiceTest, TheApplicationDictatesThroughTheServiceAndTheOperatorManagesAccounts) {
    now = systemNow();  // the operator's command counts this week
    groq.answer(kTranscriptionPath, 200, R"({"text":" one two three four","duration":12.2})");
    std::string token = signIn("ann@example.org");
    std::filesystem::create_directories(folder / "home/.velvox");
    std::ofstream(folder / "home/.velvox/config.json") << json{
        {"apiBase", settings.publicUrl + "/v1"},
        {"useOwnKey", false},
        {"cleanup", false},
        {"deviceToken", token}}.dump();
    std::ofstream(folder / "take.m4a") << "audio";
    auto [status, printed] =
        runBuilt("HOME='" + (folder / "home").string() + "' ./velvox transcribe '" +
                 (folder / "take.m4a").string() + "'");
    EXPECT_EQ(status, 0) << printed;
    EXPECT_NE(printed.find("one two three four"), std::string::npos) << printed;
    ASSERT_FALSE(groq.lastRequest().parts.empty());
    EXPECT_EQ(groq.lastRequest().parts.back().content, "audio");
    EXPECT_EQ(get("/v1/me", bearer(token)).body["used"], 4);
    const std::string thisWeek = "4 words, 13 s of audio this week";
    settings.planWords["pro"] = 20000;
    const std::string service =
        "VELVOX_SERVICE_DB='" + settings.database + "' service/velvox-service";
    // clang-format off
    struct Case { std::string arguments; int status; std::string printed; } cases[] = {
        {"users", 0, "ann@example.org\tfree\t1 device(s)\t" + thisWeek + "\n"},
        {"users plan ann@example.org pro", 0, ""},
        {"users plan nobody@example.org pro", 1, "no account with that address\n"},
        {"users revoke nobody@example.org", 1, "no account with that address\n"},
        {"users list", 0, "ann@example.org\tpro\t1 device(s)\t" + thisWeek + "\n"},
        {"users frobnicate", 2, ""},
        {"migrate", 0, "schema version 3 -> 3\n"},
    };
    // clang-format on
    for (const auto& test : cases) {
        auto [status, printed] = runBuilt(service + " " + test.arguments);
        EXPECT_EQ(status, test.status) << test.arguments << ": " << printed;
        EXPECT_EQ(printed, test.printed.empty() ? printed : test.printed) << test.arguments;
    }
    json me = get("/v1/me", bearer(token)).body;
    EXPECT_EQ(me["plan"], "pro");
    EXPECT_EQ(me["cap"], 20000);
    EXPECT_EQ(runBuilt(service + " users revoke ' Ann@Example.ORG'"),
              std::make_pair(0, std::string("1 token(s) revoked\n")));
    EXPECT_EQ(get("/v1/me", bearer(token)).status, 401);
}

INSTANTIATE_TEST_SUITE_P(Stores, ServiceTest, ::testing::Values("sqlite", "postgresql"));

TEST(ServiceWeek, StartsOnMondayMidnightUtc) {
    const int64_t monday = 1764547200;  // 2025-12-01 00:00 UTC
    for (int64_t offset : {0LL, 1LL, 3 * 86400LL, 7 * 86400LL - 1})
        EXPECT_EQ(weekStart(monday + offset), monday) << offset;
    EXPECT_EQ(weekStart(monday - 1), monday - 7 * 86400);
    // Before 1970 too: the Sunday before the epoch's week belongs to the week before.
    EXPECT_EQ(weekStart(-3 * 86400 - 1), -10 * 86400);
}

TEST(ServiceWords, SpacesSeparateWordsAndEachIdeographOrKanaIsOne) {
    // clang-format off
    struct Case { const char* text; int64_t words; } cases[] = {
        {"", 0}, {"  one two\nthree ", 3}, {"na\u00efve caf\u00e9", 2},
        {"\u4f60\u597d\u4e16\u754c", 4}, {"\u6771\u4eac Tokyo", 3},
        {"\u30ab\u30bf\u30ab\u30ca \u3067\u3059", 6}, {"\xff\xfe broken", 2},
    };
    // clang-format on
    for (const auto& test : cases) EXPECT_EQ(countWords(test.text), test.words) << test.text;
}

TEST(ServiceClientAddress, OnlyTheTrustedProxyMayNameTheClient) {
    // clang-format off
    struct Case { const char *peer, *trusted, *forwarded, *expected; } cases[] = {
        {"10.0.0.5", "", "1.2.3.4", "10.0.0.5"},
        {"10.0.0.5", "127.0.0.1", "1.2.3.4", "10.0.0.5"},
        {"127.0.0.1", "127.0.0.1", "1.2.3.4", "1.2.3.4"},
        // What the client wrote in front of the proxy's entry is not believed.
        {"127.0.0.1", "127.0.0.1", "6.6.6.6, 1.2.3.4", "1.2.3.4"},
        // Nor a line of its own before the proxy's (one line per header, by \n here).
        {"127.0.0.1", "127.0.0.1", "6.6.6.6\n1.2.3.4", "1.2.3.4"},
        {"127.0.0.1", "127.0.0.1", nullptr, "127.0.0.1"},
    };
    // clang-format on
    for (const auto& test : cases) {
        HttpRequest request;
        request.remoteAddress = test.peer;
        std::stringstream lines(test.forwarded ? test.forwarded : "");
        for (std::string line; std::getline(lines, line);)
            request.headers.emplace_back("X-Forwarded-For", line);
        EXPECT_EQ(clientAddress(request, test.trusted), test.expected) << test.peer << test.trusted;
    }
}

// Byte-a-time headers or bodies are cut off; the library's time-out bounds each read only.
TEST(ServiceConnections, SlowHeadersAndSlowBodiesAreCutOff) {
    HttpServer server(
        ServerLimits{.headers = std::chrono::milliseconds(300), .body = std::chrono::seconds(5)});
    server.route("POST", "/echo", 100, RouteWork::quick,
                 [](const HttpRequest& request, HttpResponse& response) {
                     response.setContent(request.body, "text/plain");
                 });
    int port = server.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    server.start();
    // The later part is sent after longer than the headers' time.
    // clang-format off
    struct Case { const char* name; std::string sent, later; bool answered; } cases[] = {
        {"whole request", "POST /echo HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", "", true},
        // Once the headers are in, the body has the request's time.
        {"body after a pause", "POST /echo HTTP/1.1\r\nContent-Length: 2\r\n\r\n", "hi", true},
        {"headers stall", "POST /echo HTTP/1.1\r\nContent-Le", "", false},
        {"body stalls", "POST /echo HTTP/1.1\r\nContent-Length: 100\r\n\r\nhi", "", false},
    };
    // clang-format on
    for (const auto& test : cases) {
        Exchange answer = exchange(port, test.sent, test.later,
                                   std::chrono::milliseconds(test.later.empty() ? 0 : 900), "hi");
        EXPECT_EQ(answer.received.starts_with("HTTP/1.1 200"), test.answered) << test.name;
        EXPECT_TRUE(test.answered || answer.closed) << test.name << ": the server kept waiting";
    }
    // The stream closes the socket as its time runs out, and counts just after.
    for (int wait = 0; wait < 250 && server.refusals()["too slow"] < 2; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(server.refusals()["too slow"], 2u);
}

// Connections that wait (idle, headers trickling in, a body declared and not
// sent) hold no thread: with one worker, another client is answered while a
// hundred of them wait. One address opens no more than its share.
TEST(ServiceConnections, WaitingConnectionsHoldNoWorkerAndEachAddressHasItsShare) {
    HttpServer server(ServerLimits{.headers = std::chrono::seconds(60),
                                   .body = std::chrono::seconds(60),
                                   .connectionsPerClient = 120,
                                   .workers = 1,
                                   .slowWorkers = 1});
    server.route("GET", "/me", 0, RouteWork::quick, [](const HttpRequest&, HttpResponse& response) {
        response.setContent("me", "text/plain");
    });
    server.route("POST", "/echo", 1 << 20, RouteWork::quick,
                 [](const HttpRequest& request, HttpResponse& response) {
                     response.setContent(request.body, "text/plain");
                 });
    int port = server.bind("127.0.0.1", 0);
    server.start();
    EXPECT_EQ(HttpServer().bind("127.0.0.1", port), 0) << "a port in use";
    auto answered = [&](const char* from) {
        Peer probe(port, from);
        probe.send("GET /me HTTP/1.1\r\nHost: x\r\n\r\n");
        return probe.finish("me").received.starts_with("HTTP/1.1 200");
    };
    const char* openings[] = {"", "POST /echo HTTP/1.1\r\nContent-Le",
                              "POST /echo HTTP/1.1\r\nContent-Length: 1000000\r\n\r\nh"};
    for (const char* opening : openings) {
        std::vector<std::unique_ptr<Peer>> waiting;
        for (int i = 0; i < 100; ++i) waiting.push_back(std::make_unique<Peer>(port, "127.0.0.2"));
        for (auto& peer : waiting) peer->send(opening);
        EXPECT_TRUE(answered("127.0.0.3")) << opening;
        EXPECT_TRUE(std::none_of(waiting.begin(), waiting.end(),
                                 [](auto& peer) { return peer->closedByServer(); }))
            << opening << ": answered while they still waited";
    }
    std::vector<std::unique_ptr<Peer>> share;
    for (int i = 0; i < 120; ++i) share.push_back(std::make_unique<Peer>(port, "127.0.0.4"));
    EXPECT_TRUE(answered("127.0.0.5"));
    EXPECT_FALSE(answered("127.0.0.4")) << "one past the share";
    EXPECT_EQ(server.refusals()["too many connections"], 1u);
}

// The file fills what the environment leaves out; each missing or bad setting gets its own line.
TEST(ServiceSettings, FileFillsWhatTheEnvironmentLeavesOutAndEachProblemIsNamed) {
    auto file = std::filesystem::temp_directory_path() /
                ("velvox-service-settings-" + std::to_string(::getpid()));
    // Written on Windows, left readable by everyone, with a key in it.
    std::ofstream(file)
        << "# a comment\r\nVELVOX_SERVICE_DB=sqlite:///file.db\r\nnot a setting\n"
           "VELVOX_SERVICE_LISTEN=nowhere\nVELVOX_SERVICE_WEEKLY_WORDS=-3\n"
           "VELVOX_SERVICE_PLAN_WORDS=pro=5,team\nVELVOX_SERVICE_TRIAL_GOES=4294967295\n"
           "VELVOX_SERVICE_ANTHROPIC_KEY=sk-ant-x\n";
    std::filesystem::permissions(
        file, std::filesystem::perms::owner_all | std::filesystem::perms::others_read);
    std::vector<std::string> problems;
    ::testing::internal::CaptureStderr();
    auto lookup = environmentLookup(file.string(), problems);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("warning: other users can read the settings file " + file.string() +
                               ", which holds keys; chmod 600 it"));
    EXPECT_EQ(log.find("sk-ant-x"), std::string::npos);
    std::filesystem::remove(file);
    readSettings(lookup, SettingsNeed::databaseOnly, problems);
    EXPECT_TRUE(problems.empty());
    readSettings(lookup, SettingsNeed::serving, problems);
    EXPECT_EQ(problems,
              (std::vector<std::string>{
                  "VELVOX_SERVICE_PUBLIC_URL is not set", "VELVOX_SERVICE_SMTP is not set",
                  "VELVOX_SERVICE_MAIL_FROM is not set", "VELVOX_SERVICE_GROQ_KEY is not set",
                  "VELVOX_SERVICE_APP_SECRET is not set",
                  "VELVOX_SERVICE_LISTEN must be host:port, for example 127.0.0.1:8787",
                  "VELVOX_SERVICE_WEEKLY_WORDS must be a positive whole number",
                  "VELVOX_SERVICE_TRIAL_GOES must be at most 2147483647",
                  "VELVOX_SERVICE_PLAN_WORDS must be plan=words pairs separated by commas, for "
                  "example pro=20000"}));
    ::setenv("VELVOX_SERVICE_DB", "sqlite:///environment.db", 1);
    EXPECT_EQ(lookup("VELVOX_SERVICE_DB"), "sqlite:///environment.db");
    ::unsetenv("VELVOX_SERVICE_DB");
    EXPECT_EQ(lookup("VELVOX_SERVICE_DB"), "sqlite:///file.db");
    problems.clear();
    environmentLookup("/nonexistent/settings", problems);
    EXPECT_EQ(problems,
              std::vector<std::string>{"cannot read the settings file /nonexistent/settings"});
}

}  // namespace
}  // namespace velvox::service
