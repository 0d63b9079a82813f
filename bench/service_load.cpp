// velvox-service under many connections: the latency of /v1/me from a normal
// client, its throughput, and the service's resident memory while 10,000 idle
// connections or 1,000 slow uploads are open on loopback (SQLite store).

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <httplib.h>
#include "Service.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "support/ResidentMemory.h"

namespace velvox::service {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The service on a free loopback port; no route measured here calls a provider.
struct Deployment {
    Settings settings;
    std::filesystem::path folder;
    std::unique_ptr<Store> store;
    Providers providers{settings, std::make_shared<CurlHttpClient>()};
    Mailer mailer{"smtp://127.0.0.1:9", "velvox@example.org"};  // no route here sends mail
    std::unique_ptr<Service> service;
    // Every background connection comes from 127.0.0.1. An idle one would be
    // dropped after the default 20 s for headers, before the measurement
    // ends on a slow machine: it stays for as long as the run here.
    HttpServer server{
        ServerLimits{.headers = std::chrono::minutes(5), .connectionsPerClient = 20000}};
    int port = 0;

    Deployment() {
        folder = std::filesystem::temp_directory_path() /
                 ("velvox-service-load-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        settings.database = "sqlite://" + (folder / "velvox.db").string();
        settings.appSecret = API::appSecretForSettings();
        store = openStore(settings.database);
        store->migrate();
        service = std::make_unique<Service>(settings, *store, mailer, providers);
        service->install(server);
        server.logAnswers([](const HttpRequest&, const HttpResponse&) {});
        port = server.bind("127.0.0.1", 0);
        server.start();
    }
    ~Deployment() { std::filesystem::remove_all(folder); }
    std::unique_ptr<httplib::Client> client() const {
        auto made = std::make_unique<httplib::Client>("127.0.0.1", port);
        made->set_default_headers(
            {{"X-Velvox-App", settings.appSecret}, {"X-Velvox-Install", "load"}});
        made->set_keep_alive(true);
        made->set_tcp_nodelay(true);
        return made;
    }
};

// The far end of the background connections, in a process of its own: both
// ends of 10,000 connections do not fit in one process's descriptors. A slow
// connection sends the headers of a 1 MB upload, then one byte of it in turn,
// one connection every 1.5 ms: each of 1,000 every 1.5 s. Holds them until
// its input closes.
int hold(int port, int count, bool slow) {
    ::close_range(3, ~0u, 0);  // the service's sockets, inherited
    sockaddr_in address{AF_INET, htons(static_cast<uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    const std::string headers =
        "POST /v1/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Velvox-App: " +
        API::appSecretForSettings() +
        "\r\nX-Velvox-Install: slow\r\nContent-Type: "
        "application/octet-stream\r\nContent-Length: 1000000\r\n\r\n";
    std::vector<int> sockets;
    for (int i = 0; i < count; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            break;
        if (slow) ::send(fd, headers.data(), headers.size(), MSG_NOSIGNAL);
        sockets.push_back(fd);
    }
    pollfd input{0, POLLIN, 0};
    timespec gap{0, 1'500'000};
    for (size_t turn = 0;
         ::ppoll(&input, 1, slow && !sockets.empty() ? &gap : nullptr, nullptr) == 0;)
        ::send(sockets[turn++ % sockets.size()], "x", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    return 0;
}

long openFiles() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}
double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

// Arguments: background connections, and whether they are slow uploads. One
// /v1/me every 5 ms, so that the measurement spans several rounds of trickles.
void BM_MeWhileConnected(benchmark::State& state) {
    static Deployment target;
    const long count = state.range(0), filesBefore = openFiles();
    const double residentBefore = testing::residentMegabytes();
    const std::string command = "exec '" +
                                std::filesystem::read_symlink("/proc/self/exe").string() +
                                "' --hold " + std::to_string(target.port) + " " +
                                std::to_string(count) + (state.range(1) == 1 ? " slow" : " idle");
    FILE* holder = ::popen(command.c_str(), "w");
    // The service holds a descriptor for each connection, beside the pipe to the holder.
    auto held = [&] { return static_cast<double>(openFiles() - filesBefore - 1); };
    for (auto until = Clock::now() + std::chrono::seconds(30);
         held() < count && Clock::now() < until;)
        std::this_thread::sleep_for(milliseconds(10));
    std::this_thread::sleep_for(milliseconds(500));  // for the headers to be read
    state.counters["accepted"] = held();
    state.counters["rss_mb"] = testing::residentMegabytes() - residentBefore;

    auto client = target.client();
    std::vector<double> latencies;
    int failed = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        auto result = client->Get("/v1/me");
        auto took = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(took);
        latencies.push_back(took * 1000);
        failed += !result || result->status != 200;
        std::this_thread::sleep_for(milliseconds(5));
    }
    state.counters["p50_ms"] = percentile(latencies, 0.5);
    state.counters["p99_ms"] = percentile(latencies, 0.99);
    state.counters["me_failed"] = failed;

    // Four clients as fast as they go, for two seconds.
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    const auto until = Clock::now() + std::chrono::seconds(2);
    for (int i = 0; i < 4; ++i)
        clients.emplace_back([&] {
            auto mine = target.client();
            while (Clock::now() < until)
                if (auto result = mine->Get("/v1/me"); result && result->status == 200) ++served;
        });
    for (auto& thread : clients) thread.join();
    state.counters["me_per_s"] = served / 2.0;

    // An empty upload is refused (400) by the route itself, on one of the
    // slow workers that the uploads would hold were they given one.
    auto empty = client->Post("/v1/transcribe", "", "application/octet-stream");
    state.counters["slow_route_status"] = empty ? empty->status : 0;
    // Still open after all that: none timed out, none was refused and closed.
    client.reset();
    std::this_thread::sleep_for(milliseconds(200));  // for the normal clients' ends to close
    state.counters["held_at_end"] = held();
    ::pclose(holder);
    for (auto until = Clock::now() + std::chrono::seconds(10);
         openFiles() > filesBefore && Clock::now() < until;)
        std::this_thread::sleep_for(milliseconds(10));
}
// The slow uploads before the idle connections: memory freed by the larger
// run would hide what the smaller one takes.
BENCHMARK(BM_MeWhileConnected)
    ->ArgNames({"connections", "slow"})
    ->Args({0, 0})
    ->Args({1000, 1})
    ->Args({10000, 0})
    ->Iterations(1500)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velvox::service

int main(int argc, char** argv) {
    if (argc == 5 && std::string_view(argv[1]) == "--hold")
        return velvox::service::hold(std::atoi(argv[2]), std::atoi(argv[3]),
                                     std::string_view(argv[4]) == "slow");
    // The far ends are in another process, but the service's ends of 10,000
    // connections pass the usual soft limit of 1,024.
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
