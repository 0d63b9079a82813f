// Drawing through cairo and Pango into image surfaces: text that draws inside
// the box it measures, the pill's shapes, and logos read from PNG files.
#include "platform/linux/CairoCanvas.h"

#include <gtest/gtest.h>

#include <cairo.h>

#include <array>
#include <memory>

#include "support/TempHome.h"

namespace velvox::testing {
namespace {

// A transparent ARGB surface with a canvas on it; scale is pixels per point.
class Surface {
  public:
    Surface(int width, int height, PangoText& text, double scale = 1)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
          cairo_((cairo_surface_set_device_scale(surface_, scale, scale), cairo_create(surface_))),
          canvas(cairo_, text) {}
    ~Surface() {
        cairo_destroy(cairo_);
        cairo_surface_destroy(surface_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    // Premultiplied alpha, red, green, blue of a pixel.
    std::array<int, 4> at(int x, int y) {
        cairo_surface_flush(surface_);
        uint32_t pixel =
            reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface_) +
                                              y * cairo_image_surface_get_stride(surface_))[x];
        return {int(pixel >> 24), int((pixel >> 16) & 0xFF), int((pixel >> 8) & 0xFF),
                int(pixel & 0xFF)};
    }
    int alphaAt(int x, int y) { return at(x, y)[0]; }
    // Left, top, right, bottom of every pixel drawn at all (right < 0: none).
    std::array<int, 4> ink() {
        int width = cairo_image_surface_get_width(surface_);
        int height = cairo_image_surface_get_height(surface_);
        std::array<int, 4> box{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (alphaAt(x, y) != 0)
                    box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x),
                           std::max(box[3], y)};
        return box;
    }

  private:
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

TEST_F(CairoCanvasTest, TextDrawsInsideTheBoxItMeasuresOnOneLine) {
    Surface surface(300, 60, text);
    const std::string message = "Microphone unavailable";
    Size size = surface.canvas.measureText(message, font);
    surface.canvas.drawText(message, {20, 15}, font, {1, 0.42, 0.42, 1});
    auto ink = surface.ink();
    ASSERT_GE(ink[2], 0);
    EXPECT_GE(ink[0], 19);
    EXPECT_LE(ink[2], 20 + size.width + 1);
    EXPECT_GE(ink[1], 15);
    EXPECT_LE(ink[3], 15 + size.height + 1);
    EXPECT_GE(ink[2] - ink[0] + 1, size.width * 0.9) << "the text fills its measured width";
    // The graphics that size the pill before it is drawn agree with the canvas.
    Size measured =
        CairoGraphics(std::make_shared<PangoText>(text.family())).measureText(message, font);
    EXPECT_DOUBLE_EQ(measured.width, size.width);
    EXPECT_DOUBLE_EQ(measured.height, size.height);

    Size regular = text.measure("Listening", {11.5, FontWeight::regular});
    EXPECT_GT(text.measure("Listening", {11.5, FontWeight::bold}).width, regular.width);
    EXPECT_GT(text.measure("Listening", {23, FontWeight::regular}).height, 1.6 * regular.height);
    EXPECT_DOUBLE_EQ(text.measure("one\ntwo", font).height, text.measure("one two", font).height);
    EXPECT_EQ(text.measure("", font).width, 0);
    // Damaged UTF-8 still measures and draws, with replacement characters.
    EXPECT_GT(text.measure("bad \xff\xfe bytes", font).width,
              text.measure("bad  bytes", font).width);
    Surface damaged(200, 40, text);
    damaged.canvas.drawText("bad \xff\xfe bytes", {2, 2}, font, {1, 1, 1, 1});
    EXPECT_GE(damaged.ink()[2], 0);
}

TEST_F(CairoCanvasTest, CapsulesHaveRoundEndsOutlinesAreHollowAndDotsRound) {
    Surface surface(140, 60, text);
    surface.canvas.fillRoundedRect({10, 10, 120, 40}, 19.5, {0, 0, 0, 1});
    EXPECT_EQ(surface.alphaAt(70, 30), 255);
    EXPECT_EQ(surface.alphaAt(70, 10), 255) << "straight top edge between the ends";
    EXPECT_EQ(surface.alphaAt(11, 11), 0) << "rounded corner";
    EXPECT_EQ(surface.alphaAt(128, 48), 0);
    EXPECT_GE(surface.alphaAt(11, 30), 250) << "the round end reaches the left side";
    // A radius larger than the shape allows is clamped, not drawn as a loop.
    Surface tooRound(60, 60, text);
    tooRound.canvas.fillRoundedRect({10, 20, 40, 10}, 50, {1, 1, 1, 1});
    auto ink = tooRound.ink();
    EXPECT_TRUE(ink[0] >= 10 && ink[1] >= 20 && ink[2] <= 50 && ink[3] <= 30);
    EXPECT_EQ(tooRound.alphaAt(30, 25), 255);

    Surface outline(60, 60, text);
    outline.canvas.strokeRoundedRect({10.5, 10.5, 39, 39}, 8, {1, 1, 1, 1}, 1);
    EXPECT_EQ(outline.alphaAt(30, 30), 0);
    EXPECT_EQ(outline.alphaAt(30, 10), 255);

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

TEST_F(CairoCanvasTest, LogosFromPngFilesFillTheirSquareAtAnyScale) {
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
    // At one and two pixels per point: red left, blue right, nothing outside the square.
    for (double scale : {1.0, 2.0}) {
        Surface surface(60, 40, text, scale);
        surface.canvas.drawImage(*logo, {10 / scale, 10 / scale, 40 / scale, 20 / scale});
        auto left = surface.at(15, 20), right = surface.at(45, 20);
        EXPECT_TRUE(left[1] >= 250 && left[3] <= 5) << scale;
        EXPECT_TRUE(right[3] >= 250 && right[1] <= 5) << scale;
        EXPECT_EQ(surface.ink(), (std::array<int, 4>{10, 10, 49, 29})) << scale;
    }

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
