#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "DeliveryWindowProcess.h"
#include "platform/linux/x11/X11Clipboard.h"

namespace velvox::testing {
namespace {

// What another application copied is read with every target's bytes (large
// ones in chunks), and a snapshot of it written back after a write of our
// own is served to that application byte for byte. Our own write is counted
// once and served under every text name, with the hints that keep it out of
// clipboard histories.
TEST(ClipboardTest, SnapshotsAreWrittenBackByteForByteAndOwnWritesCountedOnce) {
    auto clipboard = X11Clipboard::create();
    ASSERT_TRUE(clipboard);
    DeliveryWindowProcess window;
    ASSERT_TRUE(window.started());
    auto otherApplicationCopies = [&](const std::string& command) {
        auto before = clipboard->changeCount();
        window.send(command);
        ASSERT_TRUE(window.waitForPrefix("copied"));
        ASSERT_TRUE(spinUntil([&] { return clipboard->changeCount() != before; }));
    };
    for (const char* copy : {"copy-rich héllo wörld|<b>héllo</b>|70000", "copy-large 3000000"}) {
        SCOPED_TRACE(copy);
        otherApplicationCopies(copy);
        auto original = window.dumpClipboard();
        auto types = clipboard->itemTypes();
        ASSERT_EQ(types.size(), 1u) << "X11 has a single item";
        EXPECT_EQ(types[0].size(), original.size()) << "no TARGETS, TIMESTAMP or MULTIPLE";
        PasteboardItem snapshot;
        for (const auto& type : types[0])
            if (auto data = clipboard->data(0, type))
                snapshot.representations.push_back({type, *data});
        auto text = clipboard->data(0, "UTF8_STRING");
        EXPECT_TRUE(text && (text->size() == 3'000'000u || *text == "héllo wörld"));
        EXPECT_EQ(clipboard->data(1, "UTF8_STRING"), std::nullopt);
        EXPECT_EQ(clipboard->data(0, "application/x-not-offered"), std::nullopt);
        clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "borrowed"}}}});
        clipboard->setItems({snapshot});
        EXPECT_EQ(window.dumpClipboard(), original);  // as the other application reads it
        EXPECT_TRUE(clipboard->ownsSelection());
    }

    int64_t before = clipboard->changeCount();
    clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "dictated ✓"},
                                         {"org.nspasteboard.ConcealedType", ""},
                                         {"x-kde-passwordManagerHint", "secret"}}}});
    auto dump = window.dumpClipboard();
    for (const auto& expected :
         {clipSummary("text/plain;charset=utf-8", "dictated ✓"),
          clipSummary("UTF8_STRING", "dictated ✓"), clipSummary("TEXT", "dictated ✓"),
          clipSummary("STRING", "dictated ?"), clipSummary("org.nspasteboard.ConcealedType", ""),
          clipSummary("x-kde-passwordManagerHint", "secret")})
        EXPECT_TRUE(std::find(dump.begin(), dump.end(), expected) != dump.end()) << expected;
    // Serving the other application and the owner-change event of our own
    // write do not move the counter again.
    EXPECT_EQ(clipboard->changeCount(), before + 1);
    EXPECT_EQ(clipboard->itemTypes()[0].front(), PasteboardType::plainText);
    otherApplicationCopies("copy-text after");
    EXPECT_FALSE(clipboard->ownsSelection());
    EXPECT_EQ(clipboard->data(0, "UTF8_STRING"), "after");
}

}  // namespace
}  // namespace velvox::testing
