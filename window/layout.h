// The main window's controls and their geometry, one table for every front end.
#ifndef NORVALE_WINDOW_LAYOUT_H_
#define NORVALE_WINDOW_LAYOUT_H_

#include <array>
#include <functional>

namespace norvale {
namespace layout {

enum class Kind { kLabel, kTextBox, kButton };

// A rectangle in twips or pixels, measured from the client area's top left.
struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  int right() const { return left + width; }
  int bottom() const { return top + height; }
};

struct Control {
  const char* name;
  Kind kind;
  const char* text;  // Empty for the text boxes, whose text is the user's.
  Rect twips;
  int tab_index;  // Also the control's place in Controls().
};

// The place of each control in Controls(), by which front ends keep their
// widgets and find each named one.
enum Place : int { kLabel1, kLabel2, kTxtSource, kLabel3, kTxtDest, kCmdGo };

// Twips per device-independent pixel, the reference's 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
// The client area, in twips.
inline constexpr int kClientWidth = 6210;
inline constexpr int kClientHeight = 2055;

// The largest factor ChooseScale gives, so a broken measurement cannot make
// the window larger than any screen.
inline constexpr double kMaxScale = 3.0;
// How much ChooseScale grows the factor between tries.
inline constexpr double kScaleStep = 0.05;

// Returns the window's six controls in tab order.
const std::array<Control, 6>& Controls();

// Returns `twips` in device-independent pixels enlarged by `scale`. Edges,
// not sizes, are rounded, so edges that meet or line up in twips still do.
Rect ScaleRect(const Rect& twips, double scale);

// Returns the client area in device-independent pixels at `scale`.
Rect ClientRect(double scale);

// Says whether `control`'s caption shows in full in `pixels`.
using FitsFunction = std::function<bool(const Control& control, Rect pixels)>;

// Returns the smallest factor from 1.0 up, in steps of kScaleStep, at which
// `fits` holds for every control; kMaxScale when it never does.
double ChooseScale(const FitsFunction& fits);

}  // namespace layout
}  // namespace norvale

#endif  // NORVALE_WINDOW_LAYOUT_H_
