#include "linux/glib/GlibMainQueue.h"

#include <glib.h>

#include <cmath>
#include <deque>
#include <memory>
#include <mutex>

namespace velvox {

namespace {

struct Work {
    std::function<void()> function;
    bool repeats;
};

gboolean runWork(gpointer data) {
    auto* work = static_cast<Work*>(data);
    work->function();
    return work->repeats ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void deleteWork(gpointer data) {
    delete static_cast<Work*>(data);
}

ScheduledWork attachTimeout(double seconds, std::function<void()> function, bool repeats) {
    auto milliseconds = static_cast<guint>(std::lround(std::max(0.0, seconds) * 1000.0));
    std::shared_ptr<GSource> source(g_timeout_source_new(milliseconds), g_source_unref);
    g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(source.get(), runWork, new Work{std::move(function), repeats},
                          deleteWork);
    g_source_attach(source.get(), nullptr);
    // The handle keeps a reference, so destroying an already finished source
    // is safe; the reference goes with the handle, also one that is detached.
    return ScheduledWork([source] { g_source_destroy(source.get()); });
}

// Work handed to the main loop runs one piece per turn of the loop: GLib
// dispatches every ready source of a priority in the same turn, and pieces
// handed over together (a key's handling, the pill's showing, an answer's
// delivery) would add up to one long wait for the keys and the redraws.
struct Handover {
    std::mutex mutex;
    std::deque<std::function<void()>> waiting;
    bool scheduled = false;
};

Handover& handover() {
    static auto* shared = new Handover;  // work may be handed over during exit
    return *shared;
}

gboolean runNext(gpointer) {
    auto& queue = handover();
    std::function<void()> work;
    {
        std::lock_guard lock(queue.mutex);
        work = std::move(queue.waiting.front());
        queue.waiting.pop_front();
    }
    work();
    std::lock_guard lock(queue.mutex);
    if (!queue.waiting.empty()) return G_SOURCE_CONTINUE;
    queue.scheduled = false;
    return G_SOURCE_REMOVE;
}

}  // namespace

void GlibMainQueue::async(std::function<void()> work) {
    auto& queue = handover();
    std::lock_guard lock(queue.mutex);
    queue.waiting.push_back(std::move(work));
    if (queue.scheduled) return;
    queue.scheduled = true;
    // g_idle_add_full is safe from any thread and never runs the work inline.
    g_idle_add_full(G_PRIORITY_DEFAULT, runNext, nullptr, nullptr);
}

ScheduledWork GlibMainQueue::asyncAfter(double seconds, std::function<void()> work) {
    return attachTimeout(seconds, std::move(work), false);
}

ScheduledWork GlibMainQueue::repeating(double intervalSeconds, std::function<void()> work) {
    return attachTimeout(intervalSeconds, std::move(work), true);
}

}  // namespace velvox
