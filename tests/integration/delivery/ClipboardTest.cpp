#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <string>

#include "DeliveryWindowProcess.h"
#include "platform/linux/x11/X11Clipboard.h"

namespace velvox::testing {
namespace {

// The bytes the test window offers as image/png for a given size.
std::string binaryImage(size_t size) {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    for (size_t i = 0; bytes.size() < size; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
    return bytes;
}

bool holds(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class ClipboardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clipboard = X11Clipboard::create();
        ASSERT_TRUE(clipboard);
        ASSERT_TRUE(window.started());
    }

    // Another application copies; answers once our counter has seen it.
    void otherApplicationCopies(const std::string& command) {
        auto before = clipboard->changeCount();
        window.send(command);
        ASSERT_TRUE(window.waitForPrefix("copied"));
        ASSERT_TRUE(spinUntil([&] { return clipboard->changeCount() != before; }));
    }

    std::shared_ptr<X11Clipboard> clipboard;
    DeliveryWindowProcess window;
};

// What another application copied is read with every target's bytes (large
// ones in chunks), and a snapshot of it written back after a write of our
// own is served to that application byte for byte.
TEST_F(ClipboardTest, SnapshotOfAnotherApplicationsCopyIsWrittenBackByteForByte) {
    struct Case {
        std::string copy;
        std::string text;  // UTF8_STRING
        std::vector<std::pair<std::string, std::string>> also;
    } cases[] = {
        {"copy-rich héllo wörld|<b>héllo</b>|70000",
         "héllo wörld",
         {{"text/plain;charset=utf-8", "héllo wörld"},
          {"text/html", "<b>héllo</b>"},
          {"image/png", binaryImage(70000)}}},
        {"copy-large 3000000", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.copy);
        otherApplicationCopies(c.copy);
        auto original = window.dumpClipboard();
        auto types = clipboard->itemTypes();
        ASSERT_EQ(types.size(), 1u) << "X11 has a single item";
        EXPECT_EQ(types[0].size(), original.size()) << "no TARGETS, TIMESTAMP or MULTIPLE";
        PasteboardItem snapshot;
        for (const auto& type : types[0])
            if (auto data = clipboard->data(0, type))
                snapshot.representations.push_back({type, *data});
        auto text = clipboard->data(0, "UTF8_STRING");
        ASSERT_TRUE(text);
        if (c.text.empty()) {
            EXPECT_EQ(text->size(), 3'000'000u);
        }
        if (!c.text.empty()) {
            EXPECT_EQ(*text, c.text);
        }
        for (const auto& [type, bytes] : c.also) EXPECT_EQ(clipboard->data(0, type), bytes) << type;
        EXPECT_EQ(clipboard->data(1, "UTF8_STRING"), std::nullopt);
        EXPECT_EQ(clipboard->data(0, "application/x-not-offered"), std::nullopt);

        clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "borrowed"}}}});
        clipboard->setItems({snapshot});
        EXPECT_EQ(window.dumpClipboard(),
                  original);  // read back by the other application's process
        EXPECT_TRUE(clipboard->ownsSelection());
    }
}

TEST_F(ClipboardTest, OwnWriteIsCountedOnceAndServedUnderEveryTextName) {
    otherApplicationCopies("copy-text before");
    int64_t before = clipboard->changeCount();
    clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "dictated ✓"},
                                         {"org.nspasteboard.ConcealedType", ""},
                                         {"x-kde-passwordManagerHint", "secret"}}}});
    EXPECT_EQ(clipboard->changeCount(), before + 1);
    EXPECT_TRUE(clipboard->ownsSelection());
    auto dump = window.dumpClipboard();
    for (const auto& expected :
         {clipSummary("text/plain;charset=utf-8", "dictated ✓"),
          clipSummary("UTF8_STRING", "dictated ✓"), clipSummary("TEXT", "dictated ✓"),
          clipSummary("STRING", "dictated ?"), clipSummary("org.nspasteboard.ConcealedType", ""),
          clipSummary("x-kde-passwordManagerHint", "secret")})
        EXPECT_TRUE(holds(dump, expected)) << expected;
    // Serving the other application and the owner-change event of our own
    // write do not move the counter again.
    EXPECT_EQ(clipboard->changeCount(), before + 1);
    EXPECT_EQ(clipboard->itemTypes()[0].front(), PasteboardType::plainText);

    otherApplicationCopies("copy-text after");
    EXPECT_GT(clipboard->changeCount(), before + 1);
    EXPECT_FALSE(clipboard->ownsSelection());
    EXPECT_EQ(clipboard->data(0, "UTF8_STRING"), "after");
}

TEST_F(ClipboardTest, EmptyOrSilentOwnerGivesNothingAndEmptyWriteLeavesNoOwner) {
    Display* other = XOpenDisplay(nullptr);
    Atom selection = XInternAtom(other, "CLIPBOARD", False);
    otherApplicationCopies("copy-text something");
    auto before = clipboard->changeCount();
    clipboard->setItems({});
    EXPECT_EQ(clipboard->changeCount(), before + 1);
    EXPECT_EQ(XGetSelectionOwner(other, selection), None);
    EXPECT_TRUE(clipboard->itemTypes().empty());
    EXPECT_EQ(window.dumpClipboard(), std::vector<std::string>{});
    EXPECT_EQ(clipboard->changeCount(), before + 1);

    // A client that takes the selection and never answers a request.
    Window silent = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(other, selection, silent, CurrentTime);
    XSync(other, False);
    EXPECT_NE(clipboard->changeCount(), before + 1);
    EXPECT_TRUE(clipboard->itemTypes().empty());
    EXPECT_EQ(clipboard->data(0, "UTF8_STRING"), std::nullopt);
    // Our own write still takes over from it.
    clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "mine"}}}});
    EXPECT_TRUE(clipboard->ownsSelection());
    XCloseDisplay(other);
}

}  // namespace
}  // namespace velvox::testing
