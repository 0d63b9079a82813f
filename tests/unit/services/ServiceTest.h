#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "config/Config.h"
#include "platform/HttpClient.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "support/LoopbackServer.h"
#include "support/TempHome.h"

namespace velvox::testing {

// Hands `start` a completion and waits (bounded) for the value it is given on
// the network thread; `fallback` when nothing arrives.
template <typename Value, typename Start>
Value awaitCompletion(Start start, Value fallback) {
    auto promise = std::make_shared<std::promise<Value>>();
    auto future = promise->get_future();
    start([promise](Value value) { promise->set_value(std::move(value)); });
    if (future.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return future.get();
    ADD_FAILURE() << "no completion arrived";
    return fallback;
}

// The headers a server received, "name: value" a line in name order, without
// host and length; the app's and the install's identifiers are named, not shown.
inline std::string headersOf(const RecordedRequest& request) {
    std::string text;
    for (const auto& name : request.headerNames()) {
        std::string value = request.header(name);
        if (name == "x-velvox-app" && value == API::appSecretForSettings()) value = "app";
        if (name == "x-velvox-install" && value == Config::installId()) value = "install";
        if (name != "host" && name != "content-length") text += name + ": " + value + "\n";
    }
    return text;
}

// The real client, keeping a copy of the latest request it is given (the
// server side cannot see multipart bodies as raw bytes).
class RecordingHttpClient final : public HttpClient {
  public:
    void send(HttpRequest request, HttpCompletion completion) override {
        std::unique_lock lock(mutex_);
        last_ = request;
        lock.unlock();
        inner_.send(std::move(request), std::move(completion));
    }
    void connect(const std::string& url, ConnectCompletion completion) override {
        inner_.connect(url, std::move(completion));
    }
    HttpRequest lastRequest() const {
        std::lock_guard lock(mutex_);
        return last_;
    }

  private:
    mutable std::mutex mutex_;
    HttpRequest last_;
    CurlHttpClient inner_;
};

// A temporary HOME with an empty config.json, a loopback server standing in
// for the service and both providers, and the real curl client.
class ServiceTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        server = std::make_unique<LoopbackServer>();
        for (const char* name : kProviderBases) setEnv(name, server->base());
        Platform::installHttpClient(client);
        writeFile(settingsPath("config.json"), "{}\n");
        API::resetWarmUpLogForTesting();
    }
    void TearDown() override {
        // The client goes first: the server waits for open connections to close.
        Platform::installHttpClient(nullptr);
        client.reset();
        server.reset();
        for (const char* name : kProviderBases) setEnv(name, std::nullopt);
        TempHomeTest::TearDown();
    }
    static constexpr const char* kProviderBases[] = {"VELVOX_GROQ_BASE", "VELVOX_ANTHROPIC_BASE"};
    // The service route (apiBase at the loopback server), or own keys with a Groq key
    // (and polishing with Anthropic).
    Config serviceConfig() const { return route(false); }
    Config ownKeyConfig() const { return route(true); }
    Config route(bool ownKey) const {
        return {.apiBase = server->base(),
                .useOwnKey = ownKey,
                .groqApiKey = ownKey ? "gsk_test_key" : "",
                .vocabulary = {}};
    }
    Config anthropicConfig() const {
        Config config = ownKeyConfig();
        config.cleanupProvider = "anthropic";
        config.anthropicApiKey = "sk-ant-key";
        config.cleanupModel = "claude-test";
        return config;
    }
    std::string writeAudio(const std::string& bytes) {
        writeFile(home() + "/tmp/take.m4a", bytes);
        return home() + "/tmp/take.m4a";
    }
    static API::TextResult noCompletion() { return APIError::message("no completion arrived"); }
    API::TextResult transcribeNow(const std::string& file, const Config& config) {
        return awaitCompletion<API::TextResult>(
            [&](auto done) { API::transcribe(file, config, done); }, noCompletion());
    }
    API::TextResult polishNow(const std::string& text, const std::string& system,
                              const Config& config) {
        return awaitCompletion<API::TextResult>(
            [&](auto done) { API::polish(text, system, config, done); }, noCompletion());
    }
    std::unique_ptr<LoopbackServer> server;
    std::shared_ptr<RecordingHttpClient> client = std::make_shared<RecordingHttpClient>();
};

}  // namespace velvox::testing
