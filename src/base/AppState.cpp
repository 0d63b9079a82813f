#include "base/AppState.h"

#include <cmath>

#include "base/NotificationCenter.h"
#include "platform/Platform.h"

namespace velvox::AppState {

namespace {

struct State {
    std::string status = "Starting up";
    bool tapRunning = false;
    bool fnDead = false;
    bool retryAvailable = false;
    ReloadHook reload;
    ReloadHook retryLastDictation;
    ReloadHook dismissRetry;
    InsertHook insertIntoOwnWindow;
};

State& state() {
    static State instance;
    return instance;
}

void post() {
    Platform::mainQueue().async([] { NotificationCenter::defaultCenter().post(changed); });
}

template <typename Value>
void update(Value& stored, const Value& value) {
    if (stored == value) return;
    stored = value;
    post();
}

}  // namespace

void postChanged() {
    post();
}

const std::string& status() {
    return state().status;
}
void setStatus(const std::string& value) {
    update(state().status, value);
}
bool tapRunning() {
    return state().tapRunning;
}
void setTapRunning(bool value) {
    update(state().tapRunning, value);
}
bool fnDead() {
    return state().fnDead;
}
void setFnDead(bool value) {
    update(state().fnDead, value);
}

bool retryAvailable() {
    return state().retryAvailable;
}
void setRetryAvailable(bool value) {
    update(state().retryAvailable, value);
}

int wordCount(const std::string& text) {
    int words = 0;
    bool inWord = false;
    for (char c : text) {
        bool separator = c == ' ' || c == '\n';
        if (!separator && !inWord) ++words;
        inWord = !separator;
    }
    return words;
}

int wordsPerMinute(int words, double seconds) {
    if (!(seconds > 0)) return 0;
    double perMinute = std::trunc(words / seconds * 60.0);
    if (!std::isfinite(perMinute) || perMinute > 1e9) return 1000000000;
    return static_cast<int>(perMinute);
}

void dictated(const std::string& text, double seconds, const std::string& mode) {
    int words = wordCount(text);
    UserInfo info = {{"text", text},
                     {"words", words},
                     {"seconds", seconds},
                     {"wpm", wordsPerMinute(words, seconds)},
                     {"mode", mode}};
    Platform::mainQueue().async(
        [info] { NotificationCenter::defaultCenter().post(lastDictation, info); });
}

ReloadHook& reload() {
    return state().reload;
}
ReloadHook& retryLastDictation() {
    return state().retryLastDictation;
}
ReloadHook& dismissRetry() {
    return state().dismissRetry;
}
InsertHook& insertIntoOwnWindow() {
    return state().insertIntoOwnWindow;
}

void resetForTesting() {
    state() = State{};
}

}  // namespace velvox::AppState
