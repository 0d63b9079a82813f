// Delivering a long dictation into another application's text entry: direct
// insertion through AT-SPI and the paste road (clipboard + XTEST Control+V),
// each beside `xdotool type` of the same text; the clipboard snapshot of an
// owner offering five targets; and the whole paste road with the user's
// clipboard given back, among clipboard managers and slow owners. Run inside
// tests/integration/headless-session.sh.
#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "delivery/Paster.h"
#include "integration/delivery/DeliveryWindowProcess.h"
#include "linux/LinuxDelivery.h"
#include "linux/atspi/AtspiAccessibility.h"
#include "linux/glib/GlibMainQueue.h"
#include "linux/x11/X11Clipboard.h"
#include "linux/x11/XTestPaste.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "support/BenchHome.h"

namespace velvox::testing {
namespace {

// The clipboard's snapshot is read on a thread of its own, as in the
// application, which makes Xlib thread-safe before any display is opened.
[[maybe_unused]] const Status xlibThreads = XInitThreads();

std::string dictation(size_t length) {
    static const char* words[] = {"the",  "quick", "brown", "fox", "jumps",
                                  "over", "a",     "lazy",  "dog"};
    std::string text;
    for (size_t i = 0; text.size() < length; ++i) {
        if (!text.empty()) text += ' ';
        text += words[i % 9];
    }
    text.resize(length);
    if (text.back() == ' ') text.back() = 'x';
    return text;
}

// One test window for the whole program, with its entry focused.
DeliveryWindowProcess& target() {
    static DeliveryWindowProcess window({"--app-id", "org.velvox.BenchTarget"});
    static bool focused = [] {
        window.send("focus entry");
        window.waitForPrefix("focused entry");
        return true;
    }();
    (void)focused;
    return window;
}

void clearEntry(benchmark::State& state) {
    state.PauseTiming();
    target().send("set entry ");
    target().waitForText("entry", "");
    state.ResumeTiming();
}

void BM_DeliverByAtspiInsertion(benchmark::State& state) {
    auto accessibility = AtspiAccessibility::create();
    std::string text = dictation(2000);
    if (!target().started() || !accessibility) return state.SkipWithError("no test window");
    for (auto _ : state) {
        clearEntry(state);
        auto element = accessibility->focusedElement(0.3);
        if (!element || element->setSelectedText(text) != 0) return state.SkipWithError("refused");
        if (!target().waitForText("entry", text)) return state.SkipWithError("text did not arrive");
    }
}
BENCHMARK(BM_DeliverByAtspiInsertion)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeliverByPaste(benchmark::State& state) {
    auto clipboard = X11Clipboard::create();
    auto paste = XTestPaste::create();
    std::string text = dictation(2000);
    if (!target().started() || !clipboard || !paste) return state.SkipWithError("no display");
    for (auto _ : state) {
        clearEntry(state);
        clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, text}}}});
        paste->post({});
        if (!target().waitForText("entry", text)) return state.SkipWithError("text did not arrive");
    }
}
BENCHMARK(BM_DeliverByPaste)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeliverByXdotoolType(benchmark::State& state) {
    std::string text = dictation(2000);
    if (!target().started()) return state.SkipWithError("no test window");
    for (auto _ : state) {
        clearEntry(state);
        std::string command = "xdotool type --delay 0 '" + text + "'";
        if (std::system(command.c_str()) != 0) return state.SkipWithError("xdotool failed");
        if (!target().waitForText("entry", text, 120))
            return state.SkipWithError("text did not arrive");
    }
}
BENCHMARK(BM_DeliverByXdotoolType)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_SnapshotOfFiveTargets(benchmark::State& state) {
    auto clipboard = X11Clipboard::create();
    if (!target().started() || !clipboard) return state.SkipWithError("no display");
    auto before = clipboard->changeCount();
    target().send("copy-five");
    target().waitForPrefix("copied");
    spinUntil([&] { return clipboard->changeCount() != before; });
    size_t bytes = 0, targets = 0;
    for (auto _ : state) {
        auto types = clipboard->itemTypes();
        targets = types.empty() ? 0 : types[0].size();
        bytes = 0;
        for (const auto& type : types.empty() ? std::vector<std::string>{} : types[0]) {
            if (auto data = clipboard->data(0, type)) bytes += data->size();
        }
    }
    state.counters["targets"] = static_cast<double>(targets);
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SnapshotOfFiveTargets)->Unit(benchmark::kMillisecond)->UseRealTime();

// The desktop services behind Paster, once for the program.
bool deliveryInstalled() {
    static bool installed = [] {
        bench::useTemporaryHome();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
        installLinuxDelivery();
        return true;
    }();
    return installed;
}

using Steady = std::chrono::steady_clock;

// Runs the main loop until the condition holds, keeping the longest single
// piece of main-thread work seen meanwhile.
bool runUntil(const std::function<bool()>& condition, double& longestMs, double boundSeconds = 30) {
    auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                        std::chrono::duration<double>(boundSeconds));
    while (!condition()) {
        if (Steady::now() > deadline) return false;
        auto start = Steady::now();
        bool ran = g_main_context_iteration(nullptr, FALSE);
        longestMs = std::max(
            longestMs, std::chrono::duration<double, std::milli>(Steady::now() - start).count());
        if (!ran) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void settle(double seconds, double& longestMs) {
    auto until = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                     std::chrono::duration<double>(seconds));
    runUntil([&] { return Steady::now() >= until; }, longestMs);
}

std::unique_ptr<DeliveryWindowProcess> standIn(std::vector<std::string> arguments) {
    return std::make_unique<DeliveryWindowProcess>(std::move(arguments), clipboardStandInProgram());
}

std::string line(const std::string& target, const std::string& bytes) {
    return target + " " + std::to_string(bytes.size()) + " " + std::to_string(fnvHash(bytes));
}

// What the slow stand-in offers, as the test window reads it.
std::vector<std::string> slowOwnerContent(const std::string& text) {
    std::string image = "\x89PNG\r\n\x1a\n";
    image.resize(30000, 'i');
    return {line("UTF8_STRING", text), line("text/plain;charset=utf-8", text),
            line("text/html", "<b>" + text + "</b>"), line("image/png", image)};
}

// 200 dictations on the paste road, each over another prior clipboard: text,
// HTML with an image, an image alone, every fifth a slow owner answering
// after a second; a clipboard manager runs for the first half; every tenth
// time the user copies something new before the restore. Counts the
// clipboards given back byte for byte, and the user's copies overwritten.
void BM_PasteRoadGivesThePriorClipboardBack(benchmark::State& state) {
    if (!deliveryInstalled() || !target().started()) return state.SkipWithError("no display");
    const int dictations = static_cast<int>(state.range(0));
    int restored = 0, expected = 0, userCopies = 0, overwritten = 0;
    double longestMs = 0, slowestPasteMs = 0;
    for (auto _ : state) {
        std::mt19937 random(7);
        std::unique_ptr<DeliveryWindowProcess> manager = standIn({"manager"});
        for (int i = 0; i < dictations; ++i) {
            if (i == dictations / 2) manager.reset();
            target().send("set entry ");
            target().waitForText("entry", "");
            std::unique_ptr<DeliveryWindowProcess> slow;
            std::vector<std::string> before;
            std::string word = "prior" + std::to_string(random() % 100000);
            if (i % 5 == 4) {
                slow = standIn({"slow", "1", word});
                before = slowOwnerContent(word);
            } else {
                auto count = Platform::pasteboard().changeCount();
                switch (i % 3) {
                    case 0:
                        target().send("copy-text " + word);
                        break;
                    case 1:
                        target().send("copy-rich " + word + "|<p>" + word + "</p>|20000");
                        break;
                    default:
                        target().send("copy-image " + std::to_string(1000 + random() % 50000));
                }
                target().waitForPrefix("copied");
                runUntil([&] { return Platform::pasteboard().changeCount() != count; }, longestMs);
                if (manager) settle(0.2, longestMs);
                before = target().dumpClipboard();
            }
            std::string text = "dictation " + std::to_string(i);
            auto start = Steady::now();
            Paster::deliver(text, Platform::workspace().frontmostApplication(),
                            {.autoPaste = true, .direct = false, .alwaysCopy = false});
            if (!runUntil([&] { return target().lastText("entry") == "text entry " + text; },
                          longestMs)) {
                return state.SkipWithError("the paste did not land");
            }
            slowestPasteMs =
                std::max(slowestPasteMs,
                         std::chrono::duration<double, std::milli>(Steady::now() - start).count());
            bool userCopied = i % 10 == 9;
            std::string copied = "user copy " + std::to_string(i);
            if (userCopied) {
                target().send("copy-text " + copied);
                target().waitForPrefix("copied");
            }
            // A manager busy with a slow owner takes over a while later.
            settle(Paster::kRestoreDelaySeconds + (manager ? 3.5 : 0.5), longestMs);
            auto after = target().dumpClipboard();
            if (userCopied) {
                ++userCopies;
                if (std::find(after.begin(), after.end(), line("UTF8_STRING", copied)) ==
                    after.end()) {
                    ++overwritten;
                    std::fprintf(stderr, "dictation %d: the user's copy was overwritten\n", i);
                }
            } else {
                ++expected;
                if (after == before) {
                    ++restored;
                } else {
                    std::fprintf(stderr, "dictation %d: clipboard not given back\n", i);
                }
            }
        }
    }
    state.counters["dictations"] = dictations;
    state.counters["restored"] = restored;
    state.counters["restorable"] = expected;
    state.counters["user_copies"] = userCopies;
    state.counters["overwritten"] = overwritten;
    state.counters["longest_main_thread_ms"] = longestMs;
    state.counters["slowest_paste_ms"] = slowestPasteMs;
}
BENCHMARK(BM_PasteRoadGivesThePriorClipboardBack)
    ->Arg(200)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// One paste over an owner that answers after a second: the longest piece of
// main-thread work from the call to the restore, the call itself included,
// and how long the text takes to land.
void BM_MainThreadDuringPasteOverASlowOwner(benchmark::State& state) {
    if (!deliveryInstalled() || !target().started()) return state.SkipWithError("no display");
    double longestMs = 0, deliverMs = 0, landsMs = 0;
    int round = 0;
    for (auto _ : state) {
        target().send("set entry ");
        target().waitForText("entry", "");
        auto slow = standIn({"slow", "1", "slow owner"});
        std::string text = "over a slow owner " + std::to_string(round++);
        auto start = Steady::now();
        Paster::deliver(text, Platform::workspace().frontmostApplication(),
                        {.autoPaste = true, .direct = false, .alwaysCopy = false});
        double call = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
        deliverMs = std::max(deliverMs, call);
        longestMs = std::max(longestMs, call);
        runUntil([&] { return target().lastText("entry") == "text entry " + text; }, longestMs);
        landsMs = std::max(
            landsMs, std::chrono::duration<double, std::milli>(Steady::now() - start).count());
        settle(Paster::kRestoreDelaySeconds + 0.5, longestMs);
    }
    state.counters["longest_main_thread_ms"] = longestMs;
    state.counters["deliver_call_ms"] = deliverMs;
    state.counters["text_lands_ms"] = landsMs;
}
BENCHMARK(BM_MainThreadDuringPasteOverASlowOwner)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace velvox::testing

BENCHMARK_MAIN();
