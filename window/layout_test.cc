#include "window/layout.h"

#include <gtest/gtest.h>

#include <string>

namespace norvale {
namespace layout {
namespace {

const Control& Find(const std::string& name) {
  for (const Control& control : Controls()) {
    if (name == control.name) return control;
  }
  ADD_FAILURE() << "no control " << name;
  return Controls()[0];
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right() && b.left < a.right() && a.top < b.bottom() &&
         b.top < a.bottom();
}

TEST(ScaleRectTest, RoundsEdgesNotSizes) {
  struct Case {
    Rect twips;
    double scale;
    Rect pixels;
  };
  const Case cases[] = {
      {{0, 0, kClientWidth, kClientHeight}, 1.0, {0, 0, 414, 137}},
      {{120, 1080, 840, 195}, 1.0, {8, 72, 56, 13}},
      {{120, 720, 555, 195}, 1.5, {12, 72, 56, 20}},
      // 7 twips alone round to no pixel, but edges at 0.47 and 0.93 round
      // apart, so the box keeps a pixel.
      {{7, 7, 7, 7}, 1.0, {0, 0, 1, 1}},
  };
  for (const Case& c : cases) {
    const Rect got = ScaleRect(c.twips, c.scale);
    EXPECT_EQ(got.left, c.pixels.left);
    EXPECT_EQ(got.top, c.pixels.top);
    EXPECT_EQ(got.width, c.pixels.width);
    EXPECT_EQ(got.height, c.pixels.height);
  }
}

// Whatever factor is chosen, the layout must keep its shape: controls apart
// and inside the window, labels on their fields' rows, right edges shared.
TEST(ScaleRectTest, EveryScaleKeepsTheLayoutsShape) {
  for (double scale = 1.0; scale <= kMaxScale + 1e-9; scale += 0.01) {
    SCOPED_TRACE(scale);
    const Rect client = ClientRect(scale);
    for (const Control& a : Controls()) {
      const Rect ra = ScaleRect(a.twips, scale);
      EXPECT_GE(ra.left, 0);
      EXPECT_GE(ra.top, 0);
      EXPECT_LE(ra.right(), client.width) << a.name;
      EXPECT_LE(ra.bottom(), client.height) << a.name;
      for (const Control& b : Controls()) {
        if (&a != &b) {
          EXPECT_FALSE(Overlap(ra, ScaleRect(b.twips, scale)))
              << a.name << " " << b.name;
        }
      }
    }
    const int right = ScaleRect(Find("Label1").twips, scale).right();
    EXPECT_EQ(ScaleRect(Find("txtSource").twips, scale).right(), right);
    EXPECT_EQ(ScaleRect(Find("txtDest").twips, scale).right(), right);
    EXPECT_EQ(ScaleRect(Find("Label2").twips, scale).top,
              ScaleRect(Find("txtSource").twips, scale).top);
    EXPECT_EQ(ScaleRect(Find("Label3").twips, scale).top,
              ScaleRect(Find("txtDest").twips, scale).top);
  }
}

TEST(ChooseScaleTest, GivesTheSmallestFactorAtWhichAllFit) {
  // "Destination:" at a wide font: 73 pixels where the box has 56.
  const FitsFunction label3_needs_73 = [](const Control& control, Rect box) {
    return std::string(control.name) != "Label3" || box.width >= 73;
  };
  struct Case {
    const char* what;
    FitsFunction fits;
    double want;
  };
  const Case cases[] = {
      {"everything fits", [](const Control&, Rect) { return true; }, 1.0},
      {"nothing ever fits", [](const Control&, Rect) { return false; },
       kMaxScale},
      {"one caption is wide", label3_needs_73, 1.3},
      {"a field needs 24 pixels",
       [](const Control& control, Rect box) {
         return control.kind != Kind::kTextBox || box.height >= 24;
       },
       1.25},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(ChooseScale(c.fits), c.want) << c.what;
  }
}

}  // namespace
}  // namespace layout
}  // namespace norvale
