#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/FakePasteboard.h"
#include "integration/contracts/Contract.h"
#include "integration/delivery/DeliveryWindowProcess.h"
#include "linux/wayland/DataControlClipboard.h"
#include "linux/wayland/WaylandConnection.h"
#include "linux/x11/X11Clipboard.h"
#include "support/MainLoop.h"

namespace velvox::testing {
namespace {

// Xlib made thread-safe first, as the application does: snapshots are read on a thread.
[[maybe_unused]] const Status xlibThreads = XInitThreads();

// What every clipboard promises the paste logic, kept by the fake its unit
// tests use (the process-local clipboard, which it extends with a record of
// what it was asked) and by each desktop's clipboard in its own session. A
// driver makes the clipboard under test and copies as another application.
struct FakeDriver {
    static constexpr const char* kName = "Fake";
    std::shared_ptr<FakePasteboard> fake = std::make_shared<FakePasteboard>();
    Pasteboard& clipboard() { return *fake; }
    bool otherApplicationCopies(const std::string& text) {
        fake->userCopies({PasteboardItem{{{PasteboardType::plainText, text}}}});
        return true;
    }
    static std::optional<std::string> unavailable() { return std::nullopt; }
};
// Another application is another process: the owner of a selection serves
// it from its own main loop, which a reader in the same thread would block.
struct X11Driver {
    static constexpr const char* kName = "X11";
    std::shared_ptr<X11Clipboard> ours = X11Clipboard::create();
    std::unique_ptr<DeliveryWindowProcess> theirs;
    Pasteboard& clipboard() { return *ours; }
    bool otherApplicationCopies(const std::string& text) {
        theirs = std::make_unique<DeliveryWindowProcess>(
            std::vector<std::string>{"slow", "0", text}, clipboardStandInProgram());
        return theirs->started();
    }
    static std::optional<std::string> unavailable() { return needs("DISPLAY"); }
};
struct DataControlDriver {
    static constexpr const char* kName = "DataControl";
    std::shared_ptr<DataControlClipboard> ours =
        DataControlClipboard::create(WaylandConnection::open());
    GPid theirs = 0;
    ~DataControlDriver() {
        if (theirs > 0) kill(theirs, SIGTERM), waitpid(theirs, nullptr, 0);
    }
    Pasteboard& clipboard() { return *ours; }
    bool otherApplicationCopies(const std::string& text) {
        std::vector<std::string> command{"wl-copy", "--foreground", text};
        std::vector<gchar*> argv;
        for (auto& word : command) argv.push_back(word.data());
        argv.push_back(nullptr);
        return g_spawn_async(
            nullptr, argv.data(), nullptr,
            static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD), nullptr,
            nullptr, &theirs, nullptr);
    }
    static std::optional<std::string> unavailable() { return needs("WAYLAND_DISPLAY"); }
};

template <typename Driver>
class PasteboardContract : public ContractTest<Driver> {
  protected:
    Pasteboard& clipboard() { return this->driver->clipboard(); }
    // Lets the desktop's events about the clipboard arrive (our own write's
    // owner change among them), so that nothing counted late is missed.
    static void settle() { spinFor(std::chrono::milliseconds(150)); }
};
using Drivers = ::testing::Types<FakeDriver, X11Driver, DataControlDriver>;
TYPED_TEST_SUITE(PasteboardContract, Drivers, DriverName);

const std::string kBinary = [] {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
    return bytes;
}();
const PasteboardItem kRich{{{PasteboardType::plainText, "dictated ✓"},
                            {"text/html", "<b>dictated</b>"},
                            {"application/x-velvox-test", kBinary}}};

// Every type set is listed, in the order set; anything more is a text name
// of the same text. Each reads back byte for byte, and what was not set
// reads as nothing.
TYPED_TEST(PasteboardContract, WhatIsSetReadsBackByteForByte) {
    this->clipboard().setItems({kRich});
    this->settle();
    auto types = this->clipboard().itemTypes();
    ASSERT_EQ(types.size(), 1u);
    size_t next = 0;
    for (const auto& type : types[0]) {
        if (next < kRich.representations.size() && type == kRich.representations[next].type) {
            EXPECT_EQ(this->clipboard().data(0, type), kRich.representations[next].data) << type;
            ++next;
        } else {
            // (STRING, X11's Latin-1 name, has ? for what Latin-1 lacks.)
            EXPECT_TRUE(PasteboardType::isText(type)) << type << " was never set";
            EXPECT_THAT(this->clipboard().data(0, type),
                        ::testing::Optional(::testing::AnyOf("dictated ✓", "dictated ?")))
                << type;
        }
    }
    EXPECT_EQ(next, kRich.representations.size()) << "every type set, in order";
    EXPECT_EQ(this->clipboard().data(0, "application/x-not-offered"), std::nullopt);
    EXPECT_EQ(this->clipboard().data(1, PasteboardType::plainText), std::nullopt);
}

// The counter moves once per write of ours, never by reading, and an empty
// write leaves the clipboard empty.
TYPED_TEST(PasteboardContract, EachWriteCountsOnceAndEmptyLeavesNothing) {
    int64_t before = this->clipboard().changeCount();
    this->clipboard().setItems({kRich});
    this->settle();
    EXPECT_EQ(this->clipboard().changeCount(), before + 1);
    this->clipboard().itemTypes();
    this->clipboard().data(0, PasteboardType::plainText);
    this->settle();
    EXPECT_EQ(this->clipboard().changeCount(), before + 1) << "reading is not a change";
    this->clipboard().setItems({});
    this->settle();
    EXPECT_EQ(this->clipboard().changeCount(), before + 2);
    auto types = this->clipboard().itemTypes();
    EXPECT_TRUE(std::all_of(types.begin(), types.end(), [](auto& item) { return item.empty(); }));
    EXPECT_EQ(this->clipboard().data(0, PasteboardType::plainText), std::nullopt);
}

// A snapshot holds what is there, complete, handed over on the main thread.
TYPED_TEST(PasteboardContract, ASnapshotHoldsWhatIsThere) {
    this->clipboard().setItems({kRich});
    this->settle();
    std::optional<PasteboardSnapshot> taken;
    this->clipboard().takeSnapshot(2.0, [&](PasteboardSnapshot snapshot) { taken = snapshot; });
    ASSERT_TRUE(spinUntil([&] { return taken.has_value(); }, 5));
    EXPECT_TRUE(taken->complete);
    EXPECT_TRUE(taken->hasText());
    ASSERT_EQ(taken->items.size(), 1u);
    for (const auto& representation : kRich.representations) {
        auto& held = taken->items[0].representations;
        auto found = std::find_if(held.begin(), held.end(),
                                  [&](auto& each) { return each.type == representation.type; });
        ASSERT_NE(found, held.end()) << representation.type;
        EXPECT_EQ(found->data, representation.data) << representation.type;
    }
}

// Another application's copy moves the counter and is what reads from then on.
TYPED_TEST(PasteboardContract, AnotherApplicationsCopyIsSeen) {
    this->clipboard().setItems({kRich});
    this->settle();
    int64_t before = this->clipboard().changeCount();
    ASSERT_TRUE(this->driver->otherApplicationCopies("theirs"));
    ASSERT_TRUE(spinUntil([&] { return this->clipboard().changeCount() != before; }, 5));
    this->settle();
    EXPECT_EQ(this->clipboard().changeCount(), before + 1);
    EXPECT_EQ(this->clipboard().data(0, PasteboardType::plainText), "theirs");
    EXPECT_EQ(this->clipboard().data(0, "application/x-velvox-test"), std::nullopt)
        << "nothing of ours is left";
}

}  // namespace
}  // namespace velvox::testing
