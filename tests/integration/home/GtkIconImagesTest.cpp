// Pictures for the Home pages from the icon theme: every symbol the pages use,
// and the icons of installed applications, as square PNGs of the asked size.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdint>

#include "TestDesktopFolders.h"
#include "home/Home.h"
#include "platform/linux/GtkIconImages.h"

namespace velvox::testing {
namespace {

struct PNGSize {
    uint32_t width = 0, height = 0;
};

// The size from the PNG header: the signature, then the IHDR chunk.
std::optional<PNGSize> pngSize(const std::string& png) {
    static const std::string signature("\x89PNG\r\n\x1a\n", 8);
    if (png.size() < 24 || png.compare(0, 8, signature) != 0 || png.compare(12, 4, "IHDR") != 0)
        return std::nullopt;
    auto word = [&](size_t at) {
        return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
               (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    return PNGSize{word(16), word(20)};
}

GdkPixbuf* decode(const std::string& png) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(png.data()), png.size(),
                            nullptr);
    gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf) g_object_ref(pixbuf);
    g_object_unref(loader);
    return pixbuf;
}

struct Pixel {
    int r, g, b, a;
};

Pixel pixelAt(GdkPixbuf* pixbuf, int x, int y) {
    const guchar* row = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* p = row + x * gdk_pixbuf_get_n_channels(pixbuf);
    return {p[0], p[1], p[2], gdk_pixbuf_get_has_alpha(pixbuf) ? p[3] : 255};
}

// Counts the pixels the predicate accepts.
template <typename Predicate>
int countPixels(GdkPixbuf* pixbuf, Predicate accept) {
    int count = 0;
    for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y)
        for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x)
            if (accept(pixelAt(pixbuf, x, y))) ++count;
    return count;
}

class GtkIconImagesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        testDesktopFolders();
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
    }
    GtkIconImages images;
};

TEST_F(GtkIconImagesTest, EverySymbolOfThePagesIsALightSquareOfTheAskedSize) {
    ASSERT_EQ(Home::symbolNames().size(), 32u);
    for (int pixels : {60, 24}) {
        for (const auto& name : Home::symbolNames()) {
            auto png = images.symbolPNG(name, pixels);
            ASSERT_TRUE(png.has_value()) << name << " at " << pixels;
            auto size = pngSize(*png);
            ASSERT_TRUE(size.has_value()) << name;
            EXPECT_EQ(size->width, uint32_t(pixels)) << name;
            EXPECT_EQ(size->height, uint32_t(pixels)) << name;
            GdkPixbuf* pixbuf = decode(*png);
            ASSERT_NE(pixbuf, nullptr) << name;
            // Drawn in the light colour on a transparent ground.
            int light = countPixels(
                pixbuf, [](Pixel p) { return p.a > 200 && p.r > 200 && p.g > 200 && p.b > 200; });
            int dark = countPixels(
                pixbuf, [](Pixel p) { return p.a > 200 && (p.r < 128 || p.g < 128 || p.b < 128); });
            int clear = countPixels(pixbuf, [](Pixel p) { return p.a == 0; });
            EXPECT_GT(light, 0) << name;
            EXPECT_EQ(dark, 0) << name;
            EXPECT_GT(clear, 0) << name;
            g_object_unref(pixbuf);
        }
    }
    // Distinct symbols give distinct pictures.
    EXPECT_NE(images.symbolPNG("mic", 60), images.symbolPNG("keyboard", 60));
}

TEST_F(GtkIconImagesTest, UnknownSymbolsAndImpossibleSizesGiveNothing) {
    EXPECT_EQ(images.symbolPNG("no.such.symbol", 60), std::nullopt);
    EXPECT_EQ(images.symbolPNG("mic", 0), std::nullopt);
    EXPECT_EQ(images.symbolPNG("mic", -5), std::nullopt);
}

TEST_F(GtkIconImagesTest, ApplicationIconsComeFromTheirDesktopFiles) {
    // Icon= a file of 48 × 32: fitted into the square, centred, blue.
    auto fromFile = images.applicationIcon(TestDesktopFolders::editorId, 64);
    EXPECT_TRUE(fromFile.installed);
    ASSERT_TRUE(fromFile.png.has_value());
    auto size = pngSize(*fromFile.png);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 64u);
    EXPECT_EQ(size->height, 64u);
    GdkPixbuf* pixbuf = decode(*fromFile.png);
    ASSERT_NE(pixbuf, nullptr);
    Pixel centre = pixelAt(pixbuf, 32, 32);
    EXPECT_EQ(centre.a, 255);
    EXPECT_GT(centre.b, 150);
    EXPECT_LT(centre.r, 100);
    EXPECT_EQ(pixelAt(pixbuf, 32, 2).a, 0) << "the band above the wide picture stays clear";
    g_object_unref(pixbuf);

    // Icon= a name in the icon theme: red.
    auto themed = images.applicationIcon(TestDesktopFolders::themedId, 32);
    EXPECT_TRUE(themed.installed);
    ASSERT_TRUE(themed.png.has_value());
    size = pngSize(*themed.png);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, 32u);
    EXPECT_EQ(size->height, 32u);
    pixbuf = decode(*themed.png);
    ASSERT_NE(pixbuf, nullptr);
    centre = pixelAt(pixbuf, 16, 16);
    EXPECT_GT(centre.r, 150);
    EXPECT_LT(centre.b, 100);
    g_object_unref(pixbuf);

    auto missing = images.applicationIcon("velvoxtest-not-installed", 64);
    EXPECT_FALSE(missing.installed);
    EXPECT_FALSE(missing.png.has_value());
    EXPECT_FALSE(images.applicationIcon("../applications/velvoxtest-editor", 64).installed);
}

}  // namespace
}  // namespace velvox::testing
