// Drawing through cairo and Pango into image surfaces: text that measures as
// it draws, the pill's shapes, and logos read from PNG files.
#include "platform/linux/CairoCanvas.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "support/TempHome.h"

namespace velvox::testing {
namespace {

// A transparent ARGB surface with a canvas on it.
class Surface {
  public:
    // scale: pixels per point, as on a HiDPI display.
    Surface(int width, int height, PangoText& text, double scale = 1)
        : surface_(scaled(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), scale)),
          cairo_(cairo_create(surface_)),
          canvas(cairo_, text) {}
    ~Surface() {
        cairo_destroy(cairo_);
        cairo_surface_destroy(surface_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // Premultiplied ARGB of a pixel, as bytes (alpha, red, green, blue).
    std::array<int, 4> at(int x, int y) {
        cairo_surface_flush(surface_);
        const unsigned char* row =
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        uint32_t pixel = reinterpret_cast<const uint32_t*>(row)[x];
        return {static_cast<int>(pixel >> 24), static_cast<int>((pixel >> 16) & 0xFF),
                static_cast<int>((pixel >> 8) & 0xFF), static_cast<int>(pixel & 0xFF)};
    }
    int alphaAt(int x, int y) { return at(x, y)[0]; }
    // The bounding box of every pixel drawn at all.
    std::optional<Rect> inkBounds() {
        int width = cairo_image_surface_get_width(surface_);
        int height = cairo_image_surface_get_height(surface_);
        int left = width, top = height, right = -1, bottom = -1;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (alphaAt(x, y) == 0) continue;
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        if (right < 0) return std::nullopt;
        return Rect{static_cast<double>(left), static_cast<double>(top),
                    static_cast<double>(right - left + 1), static_cast<double>(bottom - top + 1)};
    }

  private:
    static cairo_surface_t* scaled(cairo_surface_t* surface, double scale) {
        cairo_surface_set_device_scale(surface, scale, scale);
        return surface;
    }

    cairo_surface_t* surface_;
    cairo_t* cairo_;

  public:
    CairoCanvas canvas;
};

class CairoCanvasTest : public TempHomeTest {
  protected:
    PangoText text;
    const Font font{11.5, FontWeight::medium};
};

TEST_F(CairoCanvasTest, TextIsDrawnInsideTheBoxItMeasures) {
    Surface surface(300, 60, text);
    const std::string message = "Microphone unavailable";
    Size size = surface.canvas.measureText(message, font);
    EXPECT_GT(size.width, 60);
    EXPECT_GT(size.height, 11);
    EXPECT_LT(size.height, 25);

    surface.canvas.drawText(message, {20, 15}, font, {1, 0.42, 0.42, 1});
    auto ink = surface.inkBounds();
    ASSERT_TRUE(ink);
    EXPECT_GE(ink->minX(), 19);
    EXPECT_LE(ink->maxX(), 20 + size.width + 1);
    EXPECT_GE(ink->minY(), 15);
    EXPECT_LE(ink->maxY(), 15 + size.height + 1);
    EXPECT_GE(ink->width, size.width * 0.9) << "the text fills its measured width";

    // The graphics used to size the pill before it is drawn agree with the canvas.
    CairoGraphics graphics(std::make_shared<PangoText>(text.family()));
    Size measured = graphics.measureText(message, font);
    EXPECT_DOUBLE_EQ(measured.width, size.width);
    EXPECT_DOUBLE_EQ(measured.height, size.height);
}

TEST_F(CairoCanvasTest, FontsSizeWeightAndOneLine) {
    Size regular = text.measure("Listening", {11.5, FontWeight::regular});
    Size bold = text.measure("Listening", {11.5, FontWeight::bold});
    Size large = text.measure("Listening", {23, FontWeight::regular});
    EXPECT_GT(bold.width, regular.width);
    EXPECT_NEAR(large.width, 2 * regular.width, regular.width * 0.15);
    EXPECT_GT(large.height, 1.6 * regular.height);

    // A line break in a message does not make it two lines high.
    Size twoWords = text.measure("one two", font);
    Size broken = text.measure("one\ntwo", font);
    EXPECT_DOUBLE_EQ(broken.height, twoWords.height);
    EXPECT_EQ(text.measure("", font).width, 0);

    // Damaged UTF-8 still measures (and draws) with replacement characters.
    Size damaged = text.measure("bad \xff\xfe bytes", font);
    EXPECT_GT(damaged.width, text.measure("bad  bytes", font).width);
    Surface surface(200, 40, text);
    surface.canvas.drawText("bad \xff\xfe bytes", {2, 2}, font, {1, 1, 1, 1});
    EXPECT_TRUE(surface.inkBounds());
}

TEST_F(CairoCanvasTest, CapsulesRoundedBarsAndDots) {
    Surface surface(140, 60, text);
    // The pill: radius half the height makes round ends.
    surface.canvas.fillRoundedRect({10, 10, 120, 40}, 19.5, {0, 0, 0, 1});
    EXPECT_EQ(surface.alphaAt(70, 30), 255);
    EXPECT_EQ(surface.alphaAt(70, 10), 255) << "straight top edge between the ends";
    EXPECT_EQ(surface.alphaAt(11, 11), 0) << "rounded corner";
    EXPECT_EQ(surface.alphaAt(128, 48), 0);
    EXPECT_GE(surface.alphaAt(11, 30), 250) << "the round end reaches the left side";

    // A radius larger than the shape allows is clamped, not drawn as a loop.
    Surface tooRound(60, 60, text);
    tooRound.canvas.fillRoundedRect({10, 20, 40, 10}, 50, {1, 1, 1, 1});
    auto ink = tooRound.inkBounds();
    ASSERT_TRUE(ink);
    EXPECT_GE(ink->minX(), 10);
    EXPECT_LE(ink->maxX(), 50);
    EXPECT_GE(ink->minY(), 20);
    EXPECT_LE(ink->maxY(), 30);
    EXPECT_EQ(tooRound.alphaAt(30, 25), 255);

    // An outline leaves the inside empty.
    Surface outline(60, 60, text);
    outline.canvas.strokeRoundedRect({10.5, 10.5, 39, 39}, 8, {1, 1, 1, 1}, 1);
    EXPECT_EQ(outline.alphaAt(30, 30), 0);
    EXPECT_EQ(outline.alphaAt(30, 10), 255);

    // Ellipses fill their rectangle's inside, not its corners, in the colour given.
    Surface dot(40, 40, text);
    dot.canvas.fillEllipse({10, 10, 20, 10}, {0, 0, 1, 0.5});
    auto centre = dot.at(20, 15);
    EXPECT_NEAR(centre[0], 128, 1);
    EXPECT_NEAR(centre[3], 128, 1);
    EXPECT_EQ(centre[1], 0);
    EXPECT_EQ(dot.alphaAt(11, 11), 0);
    EXPECT_EQ(dot.alphaAt(20, 9), 0);
    // Degenerate shapes draw nothing and break nothing.
    dot.canvas.fillEllipse({5, 5, 0, 10}, {1, 1, 1, 1});
    dot.canvas.fillRoundedRect({5, 5, -3, 10}, 2, {1, 1, 1, 1});
    EXPECT_EQ(dot.alphaAt(5, 8), 0);
}

TEST_F(CairoCanvasTest, LogosFromPngFilesScaledIntoTheirSquare) {
    // Left half red, right half blue.
    const std::string path = home() + "/logo.png";
    cairo_surface_t* source = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 4);
    cairo_t* cairo = cairo_create(source);
    cairo_set_source_rgb(cairo, 1, 0, 0);
    cairo_rectangle(cairo, 0, 0, 4, 4);
    cairo_fill(cairo);
    cairo_set_source_rgb(cairo, 0, 0, 1);
    cairo_rectangle(cairo, 4, 0, 4, 4);
    cairo_fill(cairo);
    cairo_destroy(cairo);
    ASSERT_EQ(cairo_surface_write_to_png(source, path.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(source);

    CairoGraphics graphics;
    auto logo = graphics.loadImage(path);
    ASSERT_TRUE(logo);
    EXPECT_EQ(logo->size().width, 8);
    EXPECT_EQ(logo->size().height, 4);

    Surface surface(60, 40, text);
    surface.canvas.drawImage(*logo, {10, 10, 40, 20});
    auto left = surface.at(15, 20);
    auto right = surface.at(45, 20);
    EXPECT_EQ(left[0], 255);
    EXPECT_GE(left[1], 250);
    EXPECT_LE(left[3], 5);
    EXPECT_GE(right[3], 250);
    EXPECT_LE(right[1], 5);
    auto ink = surface.inkBounds();
    ASSERT_TRUE(ink);
    EXPECT_EQ(ink->minX(), 10);
    EXPECT_EQ(ink->maxX(), 50) << "nothing spills outside the square";
    EXPECT_EQ(ink->minY(), 10);
    EXPECT_EQ(ink->maxY(), 30);

    // Smaller, then on a surface of two pixels per point: each drawing fits
    // its own square.
    Surface small(30, 30, text);
    small.canvas.drawImage(*logo, {5, 5, 20, 10});
    EXPECT_GE(small.at(8, 10)[1], 250);
    EXPECT_GE(small.at(22, 10)[3], 250);
    EXPECT_EQ(small.inkBounds()->width, 20);
    Surface sharp(60, 40, text, 2);
    sharp.canvas.drawImage(*logo, {5, 5, 20, 10});
    EXPECT_GE(sharp.at(15, 20)[1], 250);
    EXPECT_GE(sharp.at(45, 20)[3], 250);
    auto sharpInk = sharp.inkBounds();
    ASSERT_TRUE(sharpInk);
    EXPECT_EQ(sharpInk->minX(), 10);
    EXPECT_EQ(sharpInk->maxX(), 50);
    EXPECT_EQ(sharpInk->maxY(), 30);

    // Missing, damaged and not-a-PNG files give no logo.
    EXPECT_FALSE(graphics.loadImage(home() + "/missing.png"));
    writeFile(home() + "/text.png", "not an image at all");
    EXPECT_FALSE(graphics.loadImage(home() + "/text.png"));
    std::string bytes = readFile(path);
    writeFile(home() + "/cut.png", bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(graphics.loadImage(home() + "/cut.png"));
    EXPECT_FALSE(graphics.loadImage(home()));
}

}  // namespace
}  // namespace velvox::testing
