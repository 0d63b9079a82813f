#include <gtest/gtest.h>

#include "base/Brand.h"
#include "fakes/FakeCanvas.h"
#include "feedback/BrandIcon.h"

namespace velvox::testing {
namespace {

TEST(BrandIconTest, RecordingMakesTheSameBarsTaller) {
    auto idle = Brand::menuBarIcon(false);
    auto recording = Brand::menuBarIcon(true);
    for (const auto* icon : {&idle, &recording}) {
        EXPECT_EQ(icon->size.width, 17);
        EXPECT_EQ(icon->size.height, 15);
        EXPECT_TRUE(icon->isTemplate);
        ASSERT_EQ(icon->shapes.size(), 3u);
    }
    const double idleHeights[] = {7, 11, 7};
    const double lefts[] = {0.6, 6.9, 13.2};
    for (size_t bar = 0; bar < 3; ++bar) {
        const auto& still = idle.shapes[bar];
        const auto& live = recording.shapes[bar];
        EXPECT_NEAR(still.rect.x, lefts[bar], 1e-9);
        EXPECT_EQ(live.rect.x, still.rect.x);
        EXPECT_EQ(still.rect.width, 3.2);
        EXPECT_EQ(still.radius, 1.6);
        EXPECT_EQ(still.rect.height, idleHeights[bar]);
        EXPECT_EQ(live.rect.height, idleHeights[bar] + 2);
        // Centred vertically.
        EXPECT_EQ(still.rect.y, (15 - still.rect.height) / 2);
        EXPECT_EQ(live.rect.y, (15 - live.rect.height) / 2);
    }
}

TEST(BrandIconTest, RendersOnACanvasAndAsSvg) {
    auto icon = Brand::menuBarIcon(false);
    FakeCanvas canvas;
    icon.draw(canvas, {100, 50});
    ASSERT_EQ(canvas.lines.size(), 3u);
    EXPECT_EQ(canvas.lines[0], "fillRoundedRect (100.6,54 3.2x7) r1.6 rgba(0,0,0,1)");

    std::string svg = icon.svg();
    EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"17\" height=\"15\"", 0),
              0u);
    EXPECT_NE(svg.find("<rect x=\"6.9\" y=\"2\" width=\"3.2\" height=\"11\" rx=\"1.6\" ry=\"1.6\" "
                       "fill=\"rgb(0,0,0)\" fill-opacity=\"1\"/>"),
              std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 6), "</svg>");
}

}  // namespace
}  // namespace velvox::testing
