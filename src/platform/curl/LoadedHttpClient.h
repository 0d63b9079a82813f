#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/HttpClient.h"

namespace velvox {

// The libcurl client of libvelvox-net.so, loaded on a thread of its own at
// the first request: libcurl and the TLS and authentication libraries it
// brings (about 5 MB resident) stay out of a program that has not used the
// network yet, and the first request (the warm-up at key-down, made on the
// main thread) does not wait for them to load. Requests made meanwhile go
// out in their order once the client is there; if the module cannot be
// loaded, each fails with a word for the user and the log has the reason.
class LoadedHttpClient final : public HttpClient {
  public:
    explicit LoadedHttpClient(std::string modulePath);
    // Waits for a load under way, then ends the client (which cancels what is
    // still in flight).
    ~LoadedHttpClient() override;

    // The module beside the program (in a build tree, and in lib/velvox installed).
    static std::string besideProgram();

    void send(HttpRequest request, HttpCompletion completion) override;
    void connect(const std::string& url, ConnectCompletion completion) override;

  private:
    // What to do with the client, or with nothing when it could not be loaded.
    using Call = std::function<void(HttpClient*)>;
    void call(Call call);
    void load();

    const std::string path_;
    std::mutex mutex_;
    std::deque<Call> waiting_;
    bool settled_ = false;  // loaded or failed: client_ no longer changes
    std::unique_ptr<HttpClient> client_;
    std::thread loader_;
};

}  // namespace velvox
