#include "window/layout.h"

#include <cmath>
#include <string_view>

namespace norvale {
namespace layout {
namespace {

constexpr std::array<Control, 6> kControls = {{
    {"Label1",
     Kind::kLabel,
     "This tool will remove all unneccessary information from shortcut (.url) "
     "files and copy them to a new folder.",
     {120, 120, 6015, 495},
     0},
    {"Label2", Kind::kLabel, "Source:", {120, 720, 555, 195}, 1},
    {"txtSource", Kind::kTextBox, "", {1080, 720, 5055, 285}, 2},
    {"Label3", Kind::kLabel, "Destination:", {120, 1080, 840, 195}, 3},
    {"txtDest", Kind::kTextBox, "", {1080, 1080, 5055, 285}, 4},
    {"cmdGo", Kind::kButton, "Do it now", {2160, 1560, 1935, 375}, 5},
}};

constexpr bool EveryControlAtItsPlace() {
  for (size_t i = 0; i < kControls.size(); ++i) {
    if (kControls[i].tab_index != static_cast<int>(i)) return false;
  }
  return std::string_view(kControls[kTxtSource].name) == "txtSource" &&
         std::string_view(kControls[kTxtDest].name) == "txtDest" &&
         std::string_view(kControls[kCmdGo].name) == "cmdGo";
}
static_assert(EveryControlAtItsPlace(), "controls and places disagree");

int ToPixels(int twips, double scale) {
  return static_cast<int>(std::lround(twips * scale / kTwipsPerPixel));
}

}  // namespace

const std::array<Control, 6>& Controls() { return kControls; }

Rect ScaleRect(const Rect& twips, double scale) {
  const int left = ToPixels(twips.left, scale);
  const int top = ToPixels(twips.top, scale);
  return {left, top, ToPixels(twips.right(), scale) - left,
          ToPixels(twips.bottom(), scale) - top};
}

Rect ClientRect(double scale) {
  return ScaleRect({0, 0, kClientWidth, kClientHeight}, scale);
}

double ChooseScale(const FitsFunction& fits) {
  // Counting steps rather than adding them up keeps 1.3 from becoming
  // 1.2999999 and missing the cap.
  const int max_steps =
      static_cast<int>(std::lround((kMaxScale - 1.0) / kScaleStep));
  for (int step = 0; step <= max_steps; ++step) {
    const double scale = 1.0 + step * kScaleStep;
    bool all_fit = true;
    for (const Control& control : kControls) {
      if (!fits(control, ScaleRect(control.twips, scale))) {
        all_fit = false;
        break;
      }
    }
    if (all_fit) return scale;
  }
  return kMaxScale;
}

}  // namespace layout
}  // namespace norvale
