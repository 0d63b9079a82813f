// The real program, measured from outside as a user meets it: launch to the
// ready line, memory and wake-ups at rest, and key-up to text in another
// application's window (the insertion road and the paste road) against a
// loopback stand-in for Groq that answers at once. Run inside
// tests/integration/headless-session.sh, from a build with the tests (the
// target window is built there).
// httplib first: Xlib's macros (Success, Status) would break it.
#include "support/LoopbackServer.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "text/Tidy.h"

namespace {
std::string velvoxBinary() {
    return std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "velvox";
}
}  // namespace
#define VELVOX_BINARY velvoxBinary()
#include "integration/delivery/DeliveryWindowProcess.h"
#include "integration/e2e/GroqStandIn.h"
#include "integration/e2e/VelvoxProcess.h"
#include "support/LowLatencyMicrophone.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace velvox::testing {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// Quiet noise in the virtual microphone for as long as the program runs.
class Microphone {
  public:
    Microphone() {
        const char* fifo = std::getenv("VELVOX_TEST_SOURCE_FIFO");
        if (!fifo) return;
        thread_ = std::thread([this, path = std::string(fifo)] {
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) return;
            std::string chunk(640, '\0');
            uint32_t seed = 1;
            while (!stop_) {
                for (size_t i = 0; i < chunk.size(); i += 2) {
                    seed = seed * 1103515245 + 12345;
                    chunk[i + 1] = static_cast<char>((seed >> 16) & 0x0f);
                }
                if (::write(fd, chunk.data(), chunk.size()) < 0 && errno != EAGAIN) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            ::close(fd);
        });
    }
    ~Microphone() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Where GStreamer keeps its plugin registry. A warm launch finds the one the
// earlier launches wrote (a private home would otherwise always start without);
// a first launch gets a new file and scans every plugin.
enum class Launch { warm, first };
std::string registryFor(Launch launch, const std::string& root) {
    if (launch == Launch::first) return root + "/gst-registry.bin";
    return (fs::temp_directory_path() / "velvox-bench-gst-registry.bin").string();
}

// A private home with settings, and the stand-in for Groq.
class Session {
  public:
    explicit Session(const Json& extra = Json::object(), Launch launch = Launch::warm,
                     std::map<std::string, std::string> environment = {})
        : launch_(launch), environment_(std::move(environment)) {
        char pattern[] = "/tmp/velvox-bench-XXXXXX";
        root_ = ::mkdtemp(pattern);
        fs::create_directories(root_ + "/home/.velvox");
        fs::create_directories(root_ + "/tmp");
        Json config = {{"onboarded", true},         {"useOwnKey", true},
                       {"groqApiKey", "gsk_bench"}, {"hotkeyKeyCode", 96},
                       {"boostHotkeyKeyCode", -1},  {"alwaysCopyToClipboard", false}};
        config.update(extra);
        std::ofstream(root_ + "/home/.velvox/config.json") << config.dump();
        answerLikeGroq(groq);
    }
    ~Session() {
        velvox.reset();
        fs::remove_all(root_);
    }

    // Starts the program; answers whether its hotkeys came live.
    bool start() {
        auto environment = environment_;
        environment.merge(
            std::map<std::string, std::string>{{"HOME", root_ + "/home"},
                                               {"TMPDIR", root_ + "/tmp"},
                                               {"GST_REGISTRY", registryFor(launch_, root_)},
                                               {"VELVOX_GROQ_BASE", groq.base()}});
        velvox = std::make_unique<VelvoxProcess>(std::vector<std::string>{}, environment,
                                                 root_ + "/velvox.out");
        return waitUntil([&] { return log().find("hotkeys live: ") != std::string::npos; }, 60);
    }
    std::string log() const { return readWholeFile(root_ + "/home/.velvox/app.log"); }
    // The takes the program has recorded so far, by its log.
    size_t takes() const {
        std::string text = log();
        size_t count = 0;
        for (size_t at = text.find("recorded "); at != std::string::npos;
             at = text.find("recorded ", at + 1))
            ++count;
        return count;
    }

    LoopbackServer groq;
    std::unique_ptr<VelvoxProcess> velvox;

    std::string file(const std::string& name) const { return root_ + "/" + name; }

  private:
    Launch launch_;
    std::map<std::string, std::string> environment_;
    std::string root_;
};

// A field of /proc/PID/status.
long statusField(int32_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return 0;
}

// Context switches of every thread, by thread id.
std::map<std::string, long> switchesByThread(int32_t pid) {
    std::map<std::string, long> switches;
    std::error_code ignored;
    for (auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        std::ifstream in(task.path() / "status");
        std::string line;
        long total = 0;
        while (std::getline(in, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::stol(line.substr(line.find(':') + 1));
        switches[task.path().filename()] = total;
    }
    return switches;
}

long rollupField(int32_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return 0;
}

// range(0): 0 = warm launch, 1 = first launch (new home, new plugin registry).
void BM_LaunchToReadyLine(benchmark::State& state) {
    Microphone microphone;
    auto launch = state.range(0) == 1 ? Launch::first : Launch::warm;
    // The warm launches find the registry this one leaves.
    if (launch == Launch::warm) Session().start();
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<Session>(Json::object(), launch);
        state.ResumeTiming();
        if (!session->start()) return state.SkipWithError("never ready");
        state.PauseTiming();
        session.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LaunchToReadyLine)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// Resident kB of every mapping of the process, summed by what backs it: a
// library's file name (its version suffix dropped), "[heap]", "[anon]", ...
std::map<std::string, long> residentByMapping(int32_t pid) {
    std::map<std::string, long> resident;
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps");
    std::string line, name;
    while (std::getline(in, line)) {
        // A mapping's header: "start-end perms offset dev inode [path]".
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < line.find(' ')) {
            std::istringstream fields(line);
            std::string skip, path;
            for (int field = 0; field < 5; ++field) fields >> skip;
            std::getline(fields >> std::ws, path);
            name = path.empty() ? "[anon]" : fs::path(path).filename().string();
            if (auto so = name.find(".so"); so != std::string::npos) name.resize(so + 3);
        } else if (line.rfind("Rss:", 0) == 0) {
            resident[name] += std::stol(line.substr(4));
        }
    }
    return resident;
}

// The memory counters of a running program, in MB: resident, anonymous,
// proportional, and the resident part of the libraries that weigh most here.
void memoryCounters(benchmark::State& state, int32_t pid, const char* what) {
    state.counters["rss_MB"] = statusField(pid, "VmRSS") / 1024.0;
    state.counters["anon_MB"] = statusField(pid, "RssAnon") / 1024.0;
    state.counters["file_MB"] = statusField(pid, "RssFile") / 1024.0;
    // Shared library pages count once per process in the resident size; the
    // proportional size divides them among the processes that map them.
    state.counters["pss_MB"] = rollupField(pid, "Pss") / 1024.0;
    auto byMapping = residentByMapping(pid);
    long webEngine = 0;
    for (auto& [name, kB] : byMapping)
        if (name.find("webkit") != std::string::npos ||
            name.find("javascriptcore") != std::string::npos)
            webEngine += kB;
    state.counters["web_engine_MB"] = webEngine / 1024.0;
    std::vector<std::pair<long, std::string>> heaviest;
    for (auto& [name, kB] : byMapping) heaviest.emplace_back(kB, name);
    std::sort(heaviest.rbegin(), heaviest.rend());
    std::fprintf(stderr, "%s: resident by mapping (kB):", what);
    for (size_t i = 0; i < heaviest.size() && i < 16; ++i)
        std::fprintf(stderr, " %s=%ld", heaviest[i].second.c_str(), heaviest[i].first);
    std::fprintf(stderr, " (%zu mappings' names)\n", byMapping.size());
}

// Resident memory without the Home window, and wake-ups (context switches of
// every thread) per second over ten quiet seconds once the hotkeys are live.
// range(0): 0 = warm launch, 1 = first launch.
void BM_AtRest(benchmark::State& state) {
    Microphone microphone;
    auto launch = state.range(0) == 1 ? Launch::first : Launch::warm;
    if (launch == Launch::warm) Session().start();
    Session session(Json::object(), launch);
    if (!session.start()) return state.SkipWithError("never ready");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    int32_t pid = session.velvox->pid();
    if (pid <= 0) return state.SkipWithError("no process");
    long wakeups = 0;
    for (auto _ : state) {
        auto before = switchesByThread(pid);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        // Threads that came or went meanwhile count from zero or not at all.
        for (auto& [thread, count] : switchesByThread(pid)) {
            auto earlier = before.find(thread);
            wakeups += count - (earlier == before.end() ? 0 : earlier->second);
        }
    }
    memoryCounters(state, pid, launch == Launch::first ? "first launch" : "warm launch");
    state.counters["wakeups_per_s"] = wakeups / 10.0;
}
BENCHMARK(BM_AtRest)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// What ends a take in the round timed below: the key going up (sent through
// XTEST on a connection of our own), or `velvox dictate stop` from a
// desktop's shortcut.
enum class Trigger { key, command };

// Runs `velvox dictate NAME` as a desktop's shortcut does and waits for it.
bool dictateCommand(const std::string& name) {
    VelvoxProcess command({"dictate", name}, {}, "/dev/null");
    return command.waitForExit(20) == 0;
}

// Holds F5 (or runs `dictate start`) for a second, then times from the key
// going up (or `dictate stop` being run) to the text in the window, native
// in a Wayland session. The take ends when the input hands over its last
// sound, so the input's latency counts: range(0) 0 = the session's virtual
// microphone (128 ms buffers), 1 = a stand-in with a sound card's latency
// (11 ms).
void stopToText(benchmark::State& state, const Json& settings, Trigger trigger) {
    Microphone microphone;
    std::unique_ptr<LowLatencyMicrophone> lowLatency;
    if (state.range(0) == 1) lowLatency = std::make_unique<LowLatencyMicrophone>();
    DeliveryWindowProcess window({"--app-id", "org.velvox.BenchTarget"});
    window.send("focus entry");
    if (!window.waitForPrefix("focused entry")) return state.SkipWithError("no window");
    Session session(settings);
    if (!session.start()) return state.SkipWithError("never ready");
    Display* display = XOpenDisplay(nullptr);
    KeyCode f5 = XKeysymToKeycode(display, XStringToKeysym("F5"));
    auto key = [&](bool down) {
        if (trigger == Trigger::command) return dictateCommand(down ? "start" : "stop");
        XTestFakeKeyEvent(display, f5, down, CurrentTime);
        XFlush(display);
        return true;
    };
    std::string expected = Tidy::text(kPolished);
    for (auto _ : state) {
        state.PauseTiming();
        window.send("set entry ");
        window.waitForText("entry", "");
        window.send("focus entry");
        window.waitForPrefix("focused entry");
        if (!key(true)) return state.SkipWithError("dictate start failed");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        state.ResumeTiming();
        key(false);
        if (!window.waitForText("entry", expected, 20))
            return state.SkipWithError("text did not arrive");
        state.PauseTiming();
        // Lets the clipboard restore and the pill fade finish before the next round.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        state.ResumeTiming();
    }
    XCloseDisplay(display);
}

void BM_KeyUpToTextByInsertion(benchmark::State& state) {
    stopToText(state, Json::object(), Trigger::key);
}
void BM_KeyUpToTextByPaste(benchmark::State& state) {
    stopToText(state, {{"insertDirectly", false}}, Trigger::key);
}
void BM_StopCommandToTextByInsertion(benchmark::State& state) {
    stopToText(state, Json::object(), Trigger::command);
}
void BM_StopCommandToTextByPaste(benchmark::State& state) {
    stopToText(state, {{"insertDirectly", false}}, Trigger::command);
}
BENCHMARK(BM_KeyUpToTextByInsertion)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(BM_KeyUpToTextByPaste)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(BM_StopCommandToTextByInsertion)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(BM_StopCommandToTextByPaste)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);

int64_t monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The longest turn of the program's main loop in each dictation, as the
// program records them (VELVOX_MAIN_LOOP_WATCH): F5 held for half a second,
// the text awaited in the window, then the paste road's clipboard restore.
// Each dictation's share runs from its key-down to the next one's.
// range(0): 0 = the insertion road, 1 = the paste road; range(1): dictations,
// unless VELVOX_BENCH_DICTATIONS asks for fewer while looking for a block.
void BM_MainThreadLongestBlock(benchmark::State& state) {
    bool paste = state.range(0) == 1;
    int64_t rounds = state.range(1);
    if (const char* fewer = std::getenv("VELVOX_BENCH_DICTATIONS")) rounds = std::atoi(fewer);
    Microphone microphone;
    DeliveryWindowProcess window({"--app-id", "org.velvox.BenchTarget"});
    window.send("focus entry");
    if (!window.waitForPrefix("focused entry")) return state.SkipWithError("no window");
    char pattern[] = "/tmp/velvox-bench-watch-XXXXXX";
    std::string watch = ::mkdtemp(pattern) + std::string("/turns");
    Session session(paste ? Json{{"insertDirectly", false}} : Json::object(), Launch::warm,
                    {{"VELVOX_MAIN_LOOP_WATCH", watch}});
    if (!session.start()) return state.SkipWithError("never ready");
    Display* display = XOpenDisplay(nullptr);
    KeyCode f5 = XKeysymToKeycode(display, XStringToKeysym("F5"));
    auto key = [&](bool down) {
        XTestFakeKeyEvent(display, f5, down, CurrentTime);
        XFlush(display);
    };
    std::string expected = Tidy::text(kPolished);
    std::vector<std::pair<int64_t, int64_t>> dictations;
    for (auto _ : state) {
        for (int64_t round = 0; round < rounds; ++round) {
            window.send("set entry ");
            window.waitForText("entry", "");
            window.send("focus entry");
            window.waitForPrefix("focused entry");
            int64_t begin = monotonicNs();
            key(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            key(false);
            if (!window.waitForText("entry", expected, 20))
                return state.SkipWithError("text did not arrive");
            // The clipboard comes back 2.5 s after a paste's keystroke.
            std::this_thread::sleep_for(std::chrono::milliseconds(paste ? 2800 : 600));
            dictations.emplace_back(begin, monotonicNs());
        }
    }
    XCloseDisplay(display);
    struct Turn {
        int64_t end, busy, cpu;
    };
    std::vector<Turn> turns;
    std::ifstream in(watch);
    for (Turn turn; in >> turn.end >> turn.busy >> turn.cpu;) turns.push_back(turn);
    // The longest turn, and the most processor time one turn took: the
    // difference is time the thread waited, on another process or for a
    // processor the system gave to the others it woke.
    std::vector<double> longest, mostWork;
    std::vector<std::pair<double, size_t>> worst;
    for (auto [begin, end] : dictations) {
        int64_t most = 0, work = 0;
        for (const Turn& turn : turns) {
            if (turn.end < begin || turn.end >= end) continue;
            most = std::max(most, turn.busy);
            work = std::max(work, turn.cpu);
        }
        longest.push_back(most / 1e6);
        mostWork.push_back(work / 1e6);
        worst.emplace_back(most / 1e6, worst.size() + 1);
    }
    // Which dictations the longest turns fell in: the first carries what is
    // built on first use.
    std::sort(worst.rbegin(), worst.rend());
    std::fprintf(stderr, "longest turns (ms, dictation):");
    for (size_t i = 0; i < worst.size() && i < 5; ++i)
        std::fprintf(stderr, " %.1f #%zu", worst[i].first, worst[i].second);
    std::fprintf(stderr, "\n");
    auto at = [](std::vector<double> values, double share) {
        std::sort(values.begin(), values.end());
        return values[std::min(values.size() - 1, static_cast<size_t>(share * values.size()))];
    };
    state.counters["p50_ms"] = at(longest, 0.5);
    state.counters["p99_ms"] = at(longest, 0.99);
    state.counters["max_ms"] = at(longest, 1);
    state.counters["cpu_p50_ms"] = at(mostWork, 0.5);
    state.counters["cpu_p99_ms"] = at(mostWork, 0.99);
    state.counters["cpu_max_ms"] = at(mostWork, 1);
    fs::remove_all(fs::path(watch).parent_path());
}
BENCHMARK(BM_MainThreadLongestBlock)
    ->Args({0, 200})
    ->Args({1, 200})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

// The recording streams of the sound server, one line each.
std::vector<std::string> recordingStreams() {
    std::vector<std::string> streams;
    if (FILE* pipe = ::popen("pactl list short source-outputs 2>/dev/null", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe)) streams.emplace_back(line);
        ::pclose(pipe);
    }
    return streams;
}

// From the start of a take to the sound server streaming to the program,
// seen from outside by asking the server over and over (each look costs a
// few milliseconds itself): F5 going down (through XTEST), or starting
// `velvox dictate start` as a desktop's shortcut does. range(0): 0 = the
// key, 1 = the command.
void BM_StartToRecordingStream(benchmark::State& state) {
    auto trigger = state.range(0) == 0 ? Trigger::key : Trigger::command;
    Microphone microphone;
    Session session;
    if (!session.start()) return state.SkipWithError("never ready");
    Display* display = XOpenDisplay(nullptr);
    KeyCode f5 = display ? XKeysymToKeycode(display, XStringToKeysym("F5")) : 0;
    auto key = [&](bool down) {
        XTestFakeKeyEvent(display, f5, down, CurrentTime);
        XFlush(display);
    };
    auto dictate = [&](bool start) {
        if (trigger == Trigger::command) return dictateCommand(start ? "start" : "stop");
        key(start);
        return true;
    };
    if (!display) return state.SkipWithError("no display");
    for (auto _ : state) {
        state.PauseTiming();
        // The input prepared at rest may already hold a stream; a new one is the take's.
        auto before = recordingStreams();
        state.ResumeTiming();
        // The command is not waited for: the take starts while it runs, as
        // it does for a desktop's shortcut.
        std::unique_ptr<VelvoxProcess> command;
        if (trigger == Trigger::command) {
            command =
                std::make_unique<VelvoxProcess>(std::vector<std::string>{"dictate", "start"},
                                                std::map<std::string, std::string>{}, "/dev/null");
        } else {
            key(true);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (recordingStreams().size() <= before.size()) {
            if (std::chrono::steady_clock::now() > deadline)
                return state.SkipWithError("no recording stream");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        state.PauseTiming();
        if (command && command->waitForExit(20) != 0)
            return state.SkipWithError("dictate start failed");
        size_t done = session.takes();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        dictate(false);
        waitUntil([&] { return session.takes() > done; }, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        state.ResumeTiming();
    }
    if (display) XCloseDisplay(display);
}
BENCHMARK(BM_StartToRecordingStream)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);

// Resident size after the first dictation and after a hundred (F5 held for
// 0.6 s each, the stand-in answering at once): what stays behind per take.
void BM_MemoryOverDictations(benchmark::State& state) {
    Microphone microphone;
    Session session;
    if (!session.start()) return state.SkipWithError("never ready");
    int32_t pid = session.velvox->pid();
    Display* display = XOpenDisplay(nullptr);
    KeyCode f5 = XKeysymToKeycode(display, XStringToKeysym("F5"));
    auto dictate = [&] {
        size_t done = session.takes();
        XTestFakeKeyEvent(display, f5, True, CurrentTime);
        XFlush(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        XTestFakeKeyEvent(display, f5, False, CurrentTime);
        XFlush(display);
        bool recorded = waitUntil([&] { return session.takes() > done; }, 20);
        // The text's delivery and the pill's fade end before the next take.
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        return recorded;
    };
    double first = 0, last = 0;
    for (auto _ : state) {
        if (!dictate()) return state.SkipWithError("no take");
        first = statusField(pid, "VmRSS") / 1024.0;
        for (int take = 1; take < 100; ++take)
            if (!dictate()) return state.SkipWithError("no take");
        last = statusField(pid, "VmRSS") / 1024.0;
    }
    XCloseDisplay(display);
    state.counters["rss_after_first_MB"] = first;
    state.counters["rss_after_100_MB"] = last;
    state.counters["growth_MB"] = last - first;
}
BENCHMARK(BM_MemoryOverDictations)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// From the desktop's signal (SIGTERM at logout, SIGINT from a terminal) to
// the end of the process, the exit codes counted. range(1) 0: a transcription
// is on its way to a stand-in that answers only after 3 s (each round waits
// for that answer to be given before the next); 1: in the middle of a take,
// which is finished and kept for a retry on the way out.
void BM_QuitWithDictationUnderWay(benchmark::State& state) {
    Microphone microphone;
    int signal = static_cast<int>(state.range(0));
    bool recording = state.range(1) == 1;
    int clean = 0, rounds = 0;
    double slowest = 0;
    for (auto _ : state) {
        Session session;
        session.groq.answer(
            kTranscriptionPath,
            CannedAnswer{.status = 200, .body = spokenAnswer(), .delay = std::chrono::seconds(3)});
        if (!session.start()) return state.SkipWithError("never ready");
        if (!dictateCommand("start")) return state.SkipWithError("dictate start failed");
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        if (!recording) {
            dictateCommand("stop");
            if (!waitUntil([&] { return !session.groq.requests().empty(); }, 20))
                return state.SkipWithError("no request");
        }
        int32_t pid = session.velvox->pid();
        auto start = std::chrono::steady_clock::now();
        ::kill(pid, signal);
        std::optional<int> status = session.velvox->waitForExit(10);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        slowest = std::max(slowest, seconds);
        clean += status == 0;
        ++rounds;
        if (recording &&
            session.log().find("kept the recording the exit cut short") == std::string::npos)
            return state.SkipWithError("the take was not kept");
    }
    state.counters["exit_0"] = clean;
    state.counters["rounds"] = rounds;
    state.counters["slowest_ms"] = slowest * 1000;
}
BENCHMARK(BM_QuitWithDictationUnderWay)
    ->Args({SIGTERM, 0})
    ->Args({SIGINT, 0})
    ->Args({SIGTERM, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);

}  // namespace
}  // namespace velvox::testing

BENCHMARK_MAIN();
