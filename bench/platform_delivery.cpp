// Delivering a long dictation into another application's text entry: direct
// insertion through AT-SPI and the paste road (clipboard + XTEST Control+V),
// each beside `xdotool type` of the same text; and the clipboard snapshot of
// an owner offering five targets. Run inside tests/integration/headless-session.sh.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "integration/delivery/DeliveryWindowProcess.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11Clipboard.h"
#include "platform/linux/XTestPaste.h"

namespace velvox::testing {
namespace {

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
        paste->post();
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

}  // namespace
}  // namespace velvox::testing

BENCHMARK_MAIN();
