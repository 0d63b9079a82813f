// Connection reuse against a loopback TLS server: how many TCP connections and
// TLS handshakes ten sequential requests cost, the second request's latency
// against the first, and what a warm-up leaves for the first request.

#include <benchmark/benchmark.h>
#include <openssl/ssl.h>

#include <chrono>
#include <future>
#include <thread>

#include "base/Files.h"
#include "platform/Platform.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "support/BenchHome.h"
#include "support/LoopbackServer.h"
#include "support/TestCertificate.h"

namespace velvox {
namespace {

using testing::LoopbackServer;
using testing::TestCertificate;
using Seconds = std::chrono::duration<double>;

struct TlsBench {
    TestCertificate certificate{bench::useTemporaryHome()};
    std::unique_ptr<LoopbackServer> server;
    SSL_CTX* context = nullptr;

    TlsBench() {
        auto tls = std::make_unique<httplib::SSLServer>(certificate.certificate.c_str(),
                                                        certificate.key.c_str());
        context = tls->ssl_context();
        server = std::make_unique<LoopbackServer>(std::move(tls), "https");
        server->answer("/transcribe", 200, R"({"text":"hello"})");
    }
    // Handshakes the server completed, and how many of them resumed a session.
    long handshakes() const { return SSL_CTX_sess_accept_good(context); }
    long resumed() const { return SSL_CTX_sess_hits(context); }
};

TlsBench& tlsBench() {
    static TlsBench bench;
    return bench;
}

bool sendAndWait(HttpClient& client, const std::string& url) {
    std::promise<bool> done;
    HttpRequest request;
    request.url = url;
    request.headers = {{"Content-Type", "application/octet-stream"}};
    request.body = "audio";
    client.send(request, [&done](HttpResult result) {
        done.set_value(std::holds_alternative<HttpResponse>(result));
    });
    return done.get_future().get();
}

void BM_TenSequentialTlsRequests(benchmark::State& state) {
    TlsBench& bench = tlsBench();
    std::string url = bench.server->base() + "/transcribe";
    double connections = 0, handshakes = 0, resumed = 0, first = 0, second = 0, rest = 0;
    for (auto _ : state) {
        CurlHttpClient client(CurlHttpClientOptions{bench.certificate.certificate});
        int acceptedBefore = bench.server->acceptedConnections();
        long handshakesBefore = bench.handshakes(), resumedBefore = bench.resumed();
        for (int i = 0; i < 10; ++i) {
            auto start = std::chrono::steady_clock::now();
            if (!sendAndWait(client, url)) state.SkipWithError("request failed");
            double took = Seconds(std::chrono::steady_clock::now() - start).count();
            (i == 0 ? first : i == 1 ? second : rest) += took;
        }
        connections += bench.server->acceptedConnections() - acceptedBefore;
        handshakes += static_cast<double>(bench.handshakes() - handshakesBefore);
        resumed += static_cast<double>(bench.resumed() - resumedBefore);
    }
    double runs = static_cast<double>(state.iterations());
    state.counters["tcp_connections"] = connections / runs;
    state.counters["tls_handshakes"] = handshakes / runs;
    state.counters["tls_resumed"] = resumed / runs;
    state.counters["first_ms"] = first / runs * 1000;
    state.counters["second_ms"] = second / runs * 1000;
    state.counters["later_ms"] = rest / runs / 8 * 1000;
}
BENCHMARK(BM_TenSequentialTlsRequests)->Iterations(20)->Unit(benchmark::kMillisecond);

// A dictation: warm-up at key-down, the user speaks, then the transcription goes out.
void BM_FirstRequestAfterWarmUp(benchmark::State& state) {
    TlsBench& bench = tlsBench();
    bool warm = state.range(0) == 1;
    double connectsAfterWarmUp = 0, firstRequest = 0;
    for (auto _ : state) {
        auto client =
            std::make_shared<CurlHttpClient>(CurlHttpClientOptions{bench.certificate.certificate});
        Platform::installHttpClient(client);
        Config config;
        config.apiBase = bench.server->base();
        config.useOwnKey = false;
        if (warm) API::warmUp(config);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the user speaks
        int acceptedBefore = bench.server->acceptedConnections();
        auto start = std::chrono::steady_clock::now();
        if (!sendAndWait(*client, bench.server->base() + "/transcribe"))
            state.SkipWithError("request failed");
        firstRequest += Seconds(std::chrono::steady_clock::now() - start).count();
        connectsAfterWarmUp += bench.server->acceptedConnections() - acceptedBefore;
        Platform::installHttpClient(nullptr);
    }
    double runs = static_cast<double>(state.iterations());
    state.counters["connects_after_warmup"] = connectsAfterWarmUp / runs;
    state.counters["first_request_ms"] = firstRequest / runs * 1000;
}
BENCHMARK(BM_FirstRequestAfterWarmUp)
    ->ArgName("warm")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velvox

int main(int argc, char** argv) {
    std::string home = velvox::bench::useTemporaryHome();
    velvox::Files::createFolder(home + "/.velvox");
    velvox::Files::writeAtomically(home + "/.velvox/config.json", "{}\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
