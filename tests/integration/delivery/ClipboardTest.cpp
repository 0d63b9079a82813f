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

std::string summary(const std::string& target, const std::string& bytes) {
    return target + " " + std::to_string(bytes.size()) + " " + std::to_string(fnvHash(bytes));
}

std::vector<PasteboardItem> snapshotOf(Pasteboard& pasteboard) {
    std::vector<PasteboardItem> items;
    auto types = pasteboard.itemTypes();
    for (size_t index = 0; index < types.size(); ++index) {
        PasteboardItem item;
        for (const auto& type : types[index]) {
            if (auto data = pasteboard.data(index, type))
                item.representations.push_back({type, *data});
        }
        items.push_back(item);
    }
    return items;
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

TEST_F(ClipboardTest, ReadsEveryTargetOfAnotherApplicationWithItsBytes) {
    otherApplicationCopies("copy-rich héllo wörld|<b>héllo</b>|5000");
    auto types = clipboard->itemTypes();
    ASSERT_EQ(types.size(), 1u);
    for (const char* expected :
         {"UTF8_STRING", "text/plain;charset=utf-8", "text/html", "image/png"}) {
        EXPECT_NE(std::find(types[0].begin(), types[0].end(), expected), types[0].end())
            << expected;
    }
    for (const char* protocol : {"TARGETS", "TIMESTAMP", "MULTIPLE"}) {
        EXPECT_EQ(std::find(types[0].begin(), types[0].end(), protocol), types[0].end())
            << protocol;
    }
    EXPECT_EQ(clipboard->data(0, "UTF8_STRING"), "héllo wörld");
    EXPECT_EQ(clipboard->data(0, "text/html"), "<b>héllo</b>");
    EXPECT_EQ(clipboard->data(0, "image/png"), binaryImage(5000));
    EXPECT_EQ(clipboard->data(1, "UTF8_STRING"), std::nullopt) << "X11 has a single item";
    EXPECT_EQ(clipboard->data(0, "application/x-not-offered"), std::nullopt);
}

TEST_F(ClipboardTest, OwnWriteIsCountedOnceAndServedUnderEveryTextName) {
    otherApplicationCopies("copy-text before");
    int64_t before = clipboard->changeCount();
    PasteboardItem item;
    item.representations = {{PasteboardType::plainText, "dictated ✓"},
                            {"org.nspasteboard.ConcealedType", ""},
                            {"x-kde-passwordManagerHint", "secret"}};
    clipboard->setItems({item});
    EXPECT_EQ(clipboard->changeCount(), before + 1);
    EXPECT_TRUE(clipboard->ownsSelection());

    auto dump = window.dumpClipboard();
    for (const auto& expected :
         {summary("text/plain;charset=utf-8", "dictated ✓"), summary("UTF8_STRING", "dictated ✓"),
          summary("TEXT", "dictated ✓"), summary("STRING", "dictated ?"),
          summary("org.nspasteboard.ConcealedType", ""),
          summary("x-kde-passwordManagerHint", "secret")}) {
        EXPECT_NE(std::find(dump.begin(), dump.end(), expected), dump.end()) << expected;
    }
    // Serving the other application and the owner-change event of our own
    // write do not move the counter again.
    EXPECT_EQ(clipboard->changeCount(), before + 1);
    EXPECT_EQ(clipboard->itemTypes()[0].front(), PasteboardType::plainText);

    otherApplicationCopies("copy-text after");
    EXPECT_GT(clipboard->changeCount(), before + 1);
    EXPECT_FALSE(clipboard->ownsSelection());
    EXPECT_EQ(clipboard->data(0, "UTF8_STRING"), "after");
}

TEST_F(ClipboardTest, SnapshotWrittenBackIsServedByteForByteUntilSomeoneElseCopies) {
    otherApplicationCopies("copy-rich plain|<i>rich</i>|70000");
    auto original = window.dumpClipboard();
    ASSERT_GE(original.size(), 4u);
    auto snapshot = snapshotOf(*clipboard);
    ASSERT_EQ(snapshot.size(), 1u);

    clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "borrowed"}}}});
    clipboard->setItems(snapshot);
    // The other application's process is the one that reads it back.
    EXPECT_EQ(window.dumpClipboard(), original);
    EXPECT_TRUE(clipboard->ownsSelection());
}

TEST_F(ClipboardTest, LargeContentsTravelInChunksBothWays) {
    const size_t size = 3'000'000;
    otherApplicationCopies("copy-large " + std::to_string(size));
    auto text = clipboard->data(0, "UTF8_STRING");
    ASSERT_TRUE(text);
    ASSERT_EQ(text->size(), size);
    auto expected = window.dumpClipboard();

    clipboard->setItems({PasteboardItem{{{PasteboardType::plainText, "small"}}}});
    clipboard->setItems({PasteboardItem{{{"UTF8_STRING", *text}}}});
    EXPECT_EQ(window.dumpClipboard(), expected);
    EXPECT_EQ(expected, std::vector<std::string>{summary("UTF8_STRING", *text)});
}

TEST_F(ClipboardTest, EmptyOrSilentOwnerGivesNothingAndEmptyWriteLeavesNoOwner) {
    Display* other = XOpenDisplay(nullptr);
    ASSERT_TRUE(other);
    Atom selection = XInternAtom(other, "CLIPBOARD", False);

    // An empty write leaves the clipboard without owner.
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
