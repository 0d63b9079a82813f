#include "platform/curl/LoadedHttpClient.h"

#include "base/Files.h"
#include "base/LoadableModule.h"
#include "base/Log.h"
#include "platform/curl/HttpClientModule.h"

namespace velvox {

namespace {

TransportError missingModule() {
    return {TransportError::Kind::other,
            "Velvox could not load its network part; reinstall Velvox."};
}

}  // namespace

LoadedHttpClient::LoadedHttpClient(std::string modulePath) : path_(std::move(modulePath)) {}

LoadedHttpClient::~LoadedHttpClient() {
    if (loader_.joinable()) loader_.join();
}

std::string LoadedHttpClient::besideProgram() {
    return Files::executableFolder() + "/" + kHttpClientModule;
}

void LoadedHttpClient::send(HttpRequest request, HttpCompletion completion) {
    call([request = std::move(request),
          completion = std::move(completion)](HttpClient* client) mutable {
        if (!client) return completion(missingModule());
        client->send(std::move(request), std::move(completion));
    });
}

void LoadedHttpClient::connect(const std::string& url, ConnectCompletion completion) {
    call([url, completion = std::move(completion)](HttpClient* client) mutable {
        if (!client) return completion(missingModule());
        client->connect(url, std::move(completion));
    });
}

void LoadedHttpClient::call(Call call) {
    std::unique_lock lock(mutex_);
    if (!settled_) {
        waiting_.push_back(std::move(call));
        if (!loader_.joinable()) loader_ = std::thread([this] { load(); });
        return;
    }
    lock.unlock();
    call(client_.get());
}

void LoadedHttpClient::load() {
    using Factory = HttpClient* (*)();
    std::string reason;
    auto factory = reinterpret_cast<Factory>(LoadableModule::open(
        path_, kHttpClientVersion, httpClientModuleVersion(), kHttpClientFactory, reason));
    std::unique_ptr<HttpClient> client(factory ? factory() : nullptr);
    if (!client) Log::error("network module not loaded: " + reason);
    // Calls go out in their order: those made while these are handed over
    // wait for the next round. None is handed over under the lock, since a
    // completion that fails at once may make the next request.
    for (;;) {
        std::deque<Call> calls;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.empty()) {
                client_ = std::move(client);
                settled_ = true;
                return;
            }
            calls.swap(waiting_);
        }
        for (auto& waiting : calls) waiting(client.get());
    }
}

}  // namespace velvox
