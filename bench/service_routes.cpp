// velvox-service throughput and overhead: requests per second for /v1/me and
// /v1/transcribe (instant Groq stand-in) on SQLite and PostgreSQL, one
// instance and two sharing PostgreSQL; the latency the service adds over the
// stand-in; and 1,000 concurrent transcriptions of one account counted exactly.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <pqxx/pqxx>
#include <thread>

#include <httplib.h>
#include "Secrets.h"
#include "Service.h"
#include "platform/curl/CurlHttpClient.h"
#include "services/API.h"
#include "unit/service/PostgresServer.h"
#include "unit/service/SmtpSink.h"

namespace velvox::service {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWordsPerTranscript = 4;

struct Instance {
    std::unique_ptr<Store> store;
    std::unique_ptr<Providers> providers;
    std::unique_ptr<Mailer> mailer;
    std::unique_ptr<Service> service;
    HttpServer server;
    int port = 0;
};

// A deployment: one database, a Groq stand-in that answers at once, and one
// or more service instances on loopback ports.
struct Deployment {
    Settings settings;
    httplib::Server groq;
    std::thread groqThread;
    int groqPort = 0;
    testing::SmtpSink sink;
    std::vector<std::unique_ptr<Instance>> instances;
    std::filesystem::path folder;

    Deployment(bool postgres, int count) {
        folder = std::filesystem::temp_directory_path() /
                 ("velvox-service-bench-" + std::to_string(::getpid()) + "-" +
                  std::to_string(postgres) + "-" + std::to_string(count));
        std::filesystem::create_directories(folder);
        if (postgres) {
            // A database of its own: the deployments of one run share the server.
            std::string server = testing::PostgresServer::shared().url();
            std::string name = "bench_" + std::to_string(count);
            pqxx::connection connection(server);
            pqxx::nontransaction(connection).exec("DROP DATABASE IF EXISTS " + name);
            pqxx::nontransaction(connection).exec("CREATE DATABASE " + name);
            settings.database = server.substr(0, server.rfind('/') + 1) + name;
        } else {
            settings.database = "sqlite://" + (folder / "velvox.db").string();
        }
        // Answers at once, with as many workers as the service may send requests.
        groq.new_task_queue = [] { return new httplib::ThreadPool(256); };
        groq.set_tcp_nodelay(true);
        groq.Post("/openai/v1/audio/transcriptions",
                  [](const httplib::Request&, httplib::Response& response) {
                      response.set_content(R"({"text":"one two three four"})", "application/json");
                  });
        groqPort = groq.bind_to_any_port("127.0.0.1");
        groqThread = std::thread([this] { groq.listen_after_bind(); });
        settings.groqBase = "http://127.0.0.1:" + std::to_string(groqPort);
        settings.smtpUrl = sink.url();
        settings.mailFrom = "velvox@example.org";
        settings.groqKey = "gsk_bench";
        settings.appSecret = API::appSecretForSettings();
        settings.weeklyWords = int64_t{1} << 50;
        for (int i = 0; i < count; ++i) {
            auto instance = std::make_unique<Instance>();
            instance->store = openStore(settings.database);
            instance->store->migrate();
            instance->providers =
                std::make_unique<Providers>(settings, std::make_shared<CurlHttpClient>());
            instance->mailer = std::make_unique<Mailer>(settings.smtpUrl, settings.mailFrom);
            instance->service = std::make_unique<Service>(settings, *instance->store,
                                                          *instance->mailer, *instance->providers);
            instance->service->install(instance->server);
            instance->server.logAnswers([](const HttpRequest&, const HttpResponse&) {});
            instance->port = instance->server.bind("127.0.0.1", 0);
            instance->server.start();
            instances.push_back(std::move(instance));
        }
    }
    ~Deployment() {
        for (auto& instance : instances) {
            instance->server.stop();
            instance->server.wait();
        }
        while (!groq.is_running()) std::this_thread::yield();
        groq.stop();
        groqThread.join();
        std::filesystem::remove_all(folder);
    }

    // A new account with one device token.
    std::string newToken(const std::string& email) {
        Account account = instances[0]->store->accountForEmail(email, systemNow());
        std::string token = Secrets::newToken();
        instances[0]->store->addToken(Secrets::hash(token), account.id, systemNow());
        return token;
    }
    std::unique_ptr<httplib::Client> client(int index, const std::string& token) {
        auto made = std::make_unique<httplib::Client>("127.0.0.1",
                                                      instances[index % instances.size()]->port);
        made->set_default_headers(
            {{"X-Velvox-App", settings.appSecret}, {"Authorization", "Bearer " + token}});
        made->set_keep_alive(true);
        made->set_tcp_nodelay(true);
        made->set_read_timeout(60, 0);
        return made;
    }
};

Deployment& deployment(bool postgres, int instances) {
    static Deployment sqlite(false, 1), postgresOne(true, 1);
    static std::unique_ptr<Deployment> postgresTwo;
    static std::once_flag once;
    if (!postgres) return sqlite;
    if (instances == 1) return postgresOne;
    std::call_once(once, [] { postgresTwo = std::make_unique<Deployment>(true, 2); });
    return *postgresTwo;
}

// Arguments: 0 SQLite, 1 PostgreSQL; number of instances.
void run(benchmark::State& state, bool transcribe) {
    auto& target = deployment(state.range(0) == 1, static_cast<int>(state.range(1)));
    static std::map<Deployment*, std::string> tokens;
    static std::mutex mutex;
    std::string token;
    {
        std::lock_guard lock(mutex);
        auto& stored = tokens[&target];
        if (stored.empty()) stored = target.newToken("throughput@example.org");
        token = stored;
    }
    auto client = target.client(state.thread_index(), token);
    for (auto _ : state) {
        auto result = transcribe ? client->Post("/v1/transcribe", "m4a", "application/octet-stream")
                                 : client->Get("/v1/me");
        if (!result) {
            state.SkipWithError(("no answer: " + httplib::to_string(result.error())).c_str());
        } else if (result->status != 200) {
            state.SkipWithError(("answered " + std::to_string(result->status)).c_str());
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Me(benchmark::State& state) {
    run(state, false);
}
void BM_Transcribe(benchmark::State& state) {
    run(state, true);
}
BENCHMARK(BM_Me)->Args({0, 1})->Args({1, 1})->Args({1, 2})->Threads(8)->UseRealTime();
BENCHMARK(BM_Transcribe)->Args({0, 1})->Args({1, 1})->Args({1, 2})->Threads(8)->UseRealTime();

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * (values.size() - 1))];
}

// One transcription straight to the stand-in, one through the service, in turn.
void BM_AddedLatency(benchmark::State& state) {
    auto& target = deployment(state.range(0) == 1, 1);
    auto client = target.client(0, target.newToken("latency@example.org"));
    httplib::Client direct("127.0.0.1", target.groqPort);
    direct.set_keep_alive(true);
    direct.set_tcp_nodelay(true);
    std::vector<double> viaService, straight;
    for (auto _ : state) {
        auto start = Clock::now();
        direct.Post("/openai/v1/audio/transcriptions", "m4a", "application/octet-stream");
        auto middle = Clock::now();
        client->Post("/v1/transcribe", "m4a", "application/octet-stream");
        auto end = Clock::now();
        straight.push_back(std::chrono::duration<double, std::milli>(middle - start).count());
        viaService.push_back(std::chrono::duration<double, std::milli>(end - middle).count());
    }
    state.counters["standin_p50_ms"] = percentile(straight, 0.5);
    state.counters["standin_p99_ms"] = percentile(straight, 0.99);
    state.counters["service_p50_ms"] = percentile(viaService, 0.5);
    state.counters["service_p99_ms"] = percentile(viaService, 0.99);
}
BENCHMARK(BM_AddedLatency)->Arg(0)->Arg(1)->Iterations(2000);

// 1,000 transcriptions of one account from 50 connections at once.
void BM_ThousandConcurrent(benchmark::State& state) {
    auto& target = deployment(state.range(0) == 1, static_cast<int>(state.range(1)));
    int round = 0;
    for (auto _ : state) {
        std::string token = target.newToken("count" + std::to_string(state.range(1)) + "-" +
                                            std::to_string(round++) + "@example.org");
        std::atomic<int> served{0}, refused{0}, lost{0};
        std::vector<std::thread> workers;
        for (int worker = 0; worker < 50; ++worker) {
            workers.emplace_back([&, worker] {
                auto client = target.client(worker, token);
                for (int go = 0; go < 20; ++go) {
                    auto result = client->Post("/v1/transcribe", "m4a", "application/octet-stream");
                    ++(!result ? lost : result->status == 200 ? served : refused);
                }
            });
        }
        for (auto& worker : workers) worker.join();
        auto me = target.client(0, token)->Get("/v1/me");
        auto used = nlohmann::json::parse(me->body)["used"].get<int64_t>();
        // A request whose connection failed may or may not have been served:
        // exact means the words lie between the served and the served plus lost.
        state.counters["served"] = served.load();
        state.counters["lost_connections"] = lost.load();
        state.counters["refused"] = refused.load();
        state.counters["used_words"] = static_cast<double>(used);
        if (refused != 0 || used < served * int64_t{kWordsPerTranscript} ||
            used > (served + lost) * int64_t{kWordsPerTranscript})
            state.SkipWithError("count not exact");
    }
}
BENCHMARK(BM_ThousandConcurrent)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
}  // namespace velvox::service

BENCHMARK_MAIN();
