#include "window/layout.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace norvale {
namespace layout {
namespace {

auto Edges(const Rect& r) {
  return std::make_tuple(r.left, r.top, r.width, r.height);
}

TEST(ScaleRectTest, RoundsEdgesNotSizes) {
  const std::tuple<Rect, double, Rect> cases[] = {
      {{0, 0, kClientWidth, kClientHeight}, 1.0, {0, 0, 414, 137}},
      {{120, 720, 555, 195}, 1.5, {12, 72, 56, 20}},
      // 7 twips alone round to no pixel, but edges at 0.47 and 0.93 round
      // apart, so the box keeps a pixel.
      {{7, 7, 7, 7}, 1.0, {0, 0, 1, 1}},
  };
  for (const auto& [twips, scale, pixels] : cases) {
    EXPECT_EQ(Edges(ScaleRect(twips, scale)), Edges(pixels));
  }
}

// At every factor ChooseScale can give, counted as it counts them, the layout
// keeps its shape: controls apart and inside the window, labels on their
// fields' rows, right edges shared.
TEST(ScaleRectTest, EveryScaleKeepsTheLayoutsShape) {
  for (int step = 0; 1.0 + step * kScaleStep <= kMaxScale + 1e-9; ++step) {
    const double scale = 1.0 + step * kScaleStep;
    SCOPED_TRACE(scale);
    std::array<Rect, 6> at;
    for (size_t i = 0; i < at.size(); ++i) {
      at[i] = ScaleRect(Controls()[i].twips, scale);
    }
    const Rect client = ClientRect(scale);
    for (const Rect& a : at) {
      EXPECT_TRUE(a.left >= 0 && a.top >= 0 && a.right() <= client.width &&
                  a.bottom() <= client.height);
      for (const Rect& b : at) {
        EXPECT_TRUE(&a == &b || a.right() <= b.left || b.right() <= a.left ||
                    a.bottom() <= b.top || b.bottom() <= a.top);
      }
    }
    const auto& [label1, label2, source, label3, dest, go] = at;
    EXPECT_EQ(source.right(), label1.right());
    EXPECT_EQ(dest.right(), label1.right());
    EXPECT_EQ(label2.top, source.top);
    EXPECT_EQ(label3.top, dest.top);
  }
}

TEST(ChooseScaleTest, GivesTheSmallestFactorAtWhichAllFit) {
  // Each case: the one control that needs a width and height in pixels.
  const struct {
    const char* name;
    int width, height;
    double want;
  } cases[] = {
      {"cmdGo", 0, 0, 1.0},  // Everything fits at once.
      // "Destination:" at a wide font: 73 pixels where the box has 56.
      {"Label3", 73, 0, 1.3},
      {"txtSource", 0, 24, 1.25},
      {"cmdGo", 100000, 0, kMaxScale},  // Never fits.
  };
  for (const auto& c : cases) {
    const auto fits = [&c](const Control& control, Rect box) {
      return c.name != std::string(control.name) ||
             (box.width >= c.width && box.height >= c.height);
    };
    EXPECT_DOUBLE_EQ(ChooseScale(fits), c.want) << c.name;
  }
}

}  // namespace
}  // namespace layout
}  // namespace norvale
