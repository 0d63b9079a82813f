#pragma once

#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "config/Config.h"
#include "platform/HttpClient.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "support/TempHome.h"
#include "unit/services/LoopbackServer.h"

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

// A temporary HOME with an empty config.json, a loopback server standing in
// for the service and both providers, and the real curl client.
class ServiceTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        server = std::make_unique<LoopbackServer>();
        ::setenv("VELVOX_GROQ_BASE", server->base().c_str(), 1);
        ::setenv("VELVOX_ANTHROPIC_BASE", server->base().c_str(), 1);
        Platform::installHttpClient(std::make_shared<CurlHttpClient>());
        writeFile(settingsPath("config.json"), "{}\n");
        API::resetWarmUpLogForTesting();
    }
    void TearDown() override {
        Platform::installHttpClient(nullptr);
        server.reset();
        ::unsetenv("VELVOX_GROQ_BASE");
        ::unsetenv("VELVOX_ANTHROPIC_BASE");
        TempHomeTest::TearDown();
    }

    // The service route: apiBase at the loopback server.
    Config serviceConfig() const {
        Config config;
        config.apiBase = server->base();
        config.useOwnKey = false;
        config.vocabulary = {};
        return config;
    }
    // The own-key route with a Groq key.
    Config ownKeyConfig() const {
        Config config;
        config.apiBase = server->base();
        config.useOwnKey = true;
        config.groqApiKey = "gsk_test_key";
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
};

}  // namespace velvox::testing
