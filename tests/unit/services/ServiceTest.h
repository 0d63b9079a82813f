#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/Config.h"
#include "platform/HttpClient.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "support/LoopbackServer.h"
#include "support/TempHome.h"

namespace velvox::testing {

// Waits (bounded) for a completion that arrives on the network thread.
template <typename Value>
class Awaited {
  public:
    std::function<void(Value)> callback() {
        return [promise = promise_](Value value) { promise->set_value(std::move(value)); };
    }
    // The value, or `fallback` when nothing arrived in time.
    Value wait(Value fallback) {
        if (future_.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "no completion arrived";
            return fallback;
        }
        return future_.get();
    }

  private:
    std::shared_ptr<std::promise<Value>> promise_ = std::make_shared<std::promise<Value>>();
    std::future<Value> future_ = promise_->get_future();
};

// The real client, keeping a copy of every request it is given (the server
// side cannot see multipart bodies as raw bytes).
class RecordingHttpClient final : public HttpClient {
  public:
    void send(HttpRequest request, HttpCompletion completion) override {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        inner_.send(std::move(request), std::move(completion));
    }
    void connect(const std::string& url, ConnectCompletion completion) override {
        inner_.connect(url, std::move(completion));
    }
    HttpRequest lastRequest() const {
        std::lock_guard lock(mutex_);
        return requests_.empty() ? HttpRequest{} : requests_.back();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<HttpRequest> requests_;
    CurlHttpClient inner_;
};

// A temporary HOME with an empty config.json, a loopback server standing in
// for the service and both providers, and the real curl client.
class ServiceTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        server = std::make_unique<LoopbackServer>();
        ::setenv("VELVOX_GROQ_BASE", server->base().c_str(), 1);
        ::setenv("VELVOX_ANTHROPIC_BASE", server->base().c_str(), 1);
        Platform::installHttpClient(client);
        writeFile(settingsPath("config.json"), "{}\n");
        API::resetWarmUpLogForTesting();
    }
    void TearDown() override {
        // The client goes first: the server waits for open connections to close.
        Platform::installHttpClient(nullptr);
        client.reset();
        server.reset();
        ::unsetenv("VELVOX_GROQ_BASE");
        ::unsetenv("VELVOX_ANTHROPIC_BASE");
        TempHomeTest::TearDown();
    }

    // The service route (apiBase at the loopback server), or own keys with a Groq key.
    Config serviceConfig() const { return route(false); }
    Config ownKeyConfig() const { return route(true); }
    Config route(bool ownKey) const {
        Config config;
        config.apiBase = server->base();
        config.useOwnKey = ownKey;
        config.groqApiKey = ownKey ? "gsk_test_key" : "";
        config.vocabulary = {};
        return config;
    }

    std::string writeAudio(const std::string& bytes) {
        std::string path = home() + "/tmp/take.m4a";
        writeFile(path, bytes);
        return path;
    }

    static API::TextResult noCompletion() { return APIError::message("no completion arrived"); }

    API::TextResult transcribeNow(const std::string& file, const Config& config) {
        Awaited<API::TextResult> awaited;
        API::transcribe(file, config, awaited.callback());
        return awaited.wait(noCompletion());
    }
    API::TextResult polishNow(const std::string& text, const std::string& system,
                              const Config& config) {
        Awaited<API::TextResult> awaited;
        API::polish(text, system, config, awaited.callback());
        return awaited.wait(noCompletion());
    }

    std::unique_ptr<LoopbackServer> server;
    std::shared_ptr<RecordingHttpClient> client = std::make_shared<RecordingHttpClient>();
};

}  // namespace velvox::testing
