#include <gtest/gtest.h>

#include <glib.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/GlibMainQueue.h"

namespace velvox {
namespace {

// Runs the default main context until `done` or a generous safety limit.
void runUntil(const bool& done) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    guint guard = g_timeout_add_seconds(
        20,
        [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        },
        loop);
    GSource* checker = g_idle_source_new();
    struct Check {
        const bool* done;
        GMainLoop* loop;
    } check{&done, loop};
    g_source_set_callback(
        checker,
        [](gpointer data) -> gboolean {
            auto* c = static_cast<Check*>(data);
            if (*c->done) g_main_loop_quit(c->loop);
            return G_SOURCE_CONTINUE;
        },
        &check, nullptr);
    g_source_set_priority(checker, G_PRIORITY_LOW);
    g_source_attach(checker, nullptr);
    g_main_loop_run(loop);
    g_source_destroy(checker);
    g_source_unref(checker);
    g_source_remove(guard);
    g_main_loop_unref(loop);
}

TEST(GlibMainQueueTest, AsyncRunsLaterInOrderFromAnyThread) {
    GlibMainQueue queue;
    std::vector<std::string> ran;
    bool done = false;
    queue.async([&] { ran.push_back("main 1"); });
    std::thread([&] { queue.async([&] { ran.push_back("worker"); }); }).join();
    queue.async([&] {
        ran.push_back("main 2");
        done = true;
    });
    EXPECT_TRUE(ran.empty()) << "never inline";
    runUntil(done);
    EXPECT_EQ(ran, (std::vector<std::string>{"main 1", "worker", "main 2"}));
}

TEST(GlibMainQueueTest, DestroyedHandleCancelsDelayedWork) {
    GlibMainQueue queue;
    std::vector<std::string> ran;
    bool done = false;
    {
        auto cancelled = queue.asyncAfter(0.01, [&] { ran.push_back("cancelled"); });
    }
    auto kept = queue.asyncAfter(0.02, [&] { ran.push_back("kept"); });
    auto finish = queue.asyncAfter(0.05, [&] { done = true; });
    runUntil(done);
    EXPECT_EQ(ran, std::vector<std::string>{"kept"});
    kept.cancel();  // cancelling after it ran is harmless
}

TEST(GlibMainQueueTest, RepeatingTimerRunsUntilCancelled) {
    GlibMainQueue queue;
    int ticks = 0;
    bool done = false;
    ScheduledWork timer;
    timer = queue.repeating(0.005, [&] {
        if (++ticks == 3) {
            timer.cancel();
            done = true;
        }
    });
    runUntil(done);
    auto settle = queue.asyncAfter(0.03, [&] { done = true; });
    done = false;
    runUntil(done);
    EXPECT_EQ(ticks, 3);
}

}  // namespace
}  // namespace velvox
