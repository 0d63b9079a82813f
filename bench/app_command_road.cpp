// The desktop-shortcut road: `velvox dictate toggle` as a shortcut runs it,
// from the process's start to the moment the running copy has the command,
// and to the command's exit. The running copy is a stand-in on the session
// bus that answers at once and notes when each command arrives, so only the
// command's own cost is measured. Run inside tests/integration/headless-session.sh
// (or wayland-session.sh, where the command also meets the compositor).
#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/Brand.h"
#include "linux/dbus/RunningCopy.h"
#include "support/BenchHome.h"

extern char** environ;

namespace velvox::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The running copy's commands object, on a connection and main loop of its
// own: it answers every command with no refusal and keeps the time of the last.
class StandInCopy {
  public:
    StandInCopy() {
        thread_ = std::thread([this] { run(); });
        while (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~StandInCopy() {
        g_main_loop_quit(loop_);
        thread_.join();
    }
    bool owned() const { return owned_; }
    Clock::time_point lastArrival() const { return Clock::time_point(Clock::duration(arrival_)); }
    int arrivals() const { return arrivals_; }

  private:
    void run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop_ = g_main_loop_new(context, FALSE);
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        std::string id = Brand::bundleID;
        std::string xml = "<node><interface name='" + commandsInterface(id) + "'><method name='" +
                          kRunSentCommandMethod +
                          "'><arg type='s' direction='in'/><arg type='b' direction='in'/>"
                          "<arg type='t' direction='in'/><arg type='s' direction='out'/>"
                          "</method></interface></node>";
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml.c_str(), nullptr);
        static const GDBusInterfaceVTable vtable = {
            [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
               GDBusMethodInvocation* invocation, gpointer data) {
                auto* self = static_cast<StandInCopy*>(data);
                self->arrival_ = Clock::now().time_since_epoch().count();
                ++self->arrivals_;
                g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", ""));
            },
            nullptr,
            nullptr,
            {}};
        g_dbus_connection_register_object(bus, objectPathOf(id).c_str(), node->interfaces[0],
                                          &vtable, this, nullptr, nullptr);
        GVariant* reply = g_dbus_connection_call_sync(
            bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", id.c_str(), 4u), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        guint answer = 0;
        if (reply) g_variant_get(reply, "(u)", &answer), g_variant_unref(reply);
        owned_ = answer == 1;  // the primary owner
        ready_ = true;
        g_main_loop_run(loop_);
        g_dbus_node_info_unref(node);
        g_object_unref(bus);
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::thread thread_;
    GMainLoop* loop_ = nullptr;
    std::atomic<bool> ready_ = false, owned_ = false;
    std::atomic<Clock::rep> arrival_ = 0;
    std::atomic<int> arrivals_ = 0;
};

// The program built beside this benchmark, or another build's (to compare).
std::string velvoxBinary() {
    if (const char* other = std::getenv("VELVOX_BENCH_PROGRAM")) return other;
    return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "velvox";
}

double percentile(std::vector<double> samples, double share) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(share * double(samples.size())))];
}

// What starting any process costs on this machine: /bin/true, spawned and
// waited for as the command is, 100 times.
void BM_ProcessStartFloor(benchmark::State& state) {
    std::vector<char*> argv = {const_cast<char*>("/bin/true"), nullptr};
    std::vector<double> exited;
    for (auto _ : state) {
        for (int run = 0; run < 100; ++run) {
            auto start = Clock::now();
            pid_t pid = 0;
            if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) continue;
            waitpid(pid, nullptr, 0);
            exited.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    if (!exited.empty()) state.counters["exit_p50_ms"] = percentile(exited, 0.5);
}
BENCHMARK(BM_ProcessStartFloor)->Iterations(1)->Unit(benchmark::kMillisecond);

// 100 commands per repetition: start to the copy having it, and start to exit.
void BM_DictateCommandToRunningCopy(benchmark::State& state) {
    bench::useTemporaryHome();
    StandInCopy copy;
    if (!copy.owned()) {
        state.SkipWithError("no session bus, or the application's name is taken");
        return;
    }
    std::string program = velvoxBinary();
    std::vector<char*> argv = {program.data(), const_cast<char*>("dictate"),
                               const_cast<char*>("toggle"), nullptr};
    std::vector<double> handedOver, exited;
    for (auto _ : state) {
        for (int run = 0; run < 100; ++run) {
            int before = copy.arrivals();
            auto start = Clock::now();
            pid_t pid = 0;
            if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
                state.SkipWithError("the program does not start");
                return;
            }
            int status = 0;
            waitpid(pid, &status, 0);
            auto end = Clock::now();
            if (copy.arrivals() != before + 1 || status != 0) {
                state.SkipWithError("the command did not reach the running copy");
                return;
            }
            using Ms = std::chrono::duration<double, std::milli>;
            handedOver.push_back(Ms(copy.lastArrival() - start).count());
            exited.push_back(Ms(end - start).count());
        }
    }
    state.counters["handover_p50_ms"] = percentile(handedOver, 0.5);
    state.counters["handover_p95_ms"] = percentile(handedOver, 0.95);
    state.counters["exit_p50_ms"] = percentile(exited, 0.5);
    state.counters["exit_p95_ms"] = percentile(exited, 0.95);
}
BENCHMARK(BM_DictateCommandToRunningCopy)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velvox::testing

BENCHMARK_MAIN();
