#pragma once
// The portable part of the explorer button: its enumerations, the placement of
// bitmap and caption, caption accelerators, and the pixel rules of its images.
// Nothing here touches the window system, so it is tested natively.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/text.hpp"

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TExplorerButtonLayout { blBitmapTop, blBitmapBottom, blBitmapLeft, blBitmapRight };
enum TExplorerButtonBevelStyle { bsLowered, bsRaised };
enum TExplorerButtonShadingType { stLight, stMedium, stDark };
enum TExplorerButtonOption : std::uint32_t {
  boMonoDisplay = 1u << 0,
  boIconOnly = 1u << 1,
  boPopupMark = 1u << 2,
};
using TExplorerButtonOptions = std::uint32_t;

namespace vz::explbtn {

struct TextExtent {
  int width = 0;
  int height = 0;
};

// Measures `text` the way DrawTextA with DT_CALCRECT does in a rectangle of
// `maxWidth` x 0 with the given alignment and word-break setting.
using MeasureText =
    std::function<TextExtent(const std::string& text, int maxWidth, TAlignment alignment, bool wordWrap)>;

struct LayoutInput {
  int width = 0;   // W
  int height = 0;  // H
  bool bitmapEmpty = true;
  int bitmapWidth = 0;
  int bitmapHeight = 0;
  std::string caption;
  bool iconOnly = false;
  bool markShown = false;  // boPopupMark set and a drop-down menu attached
  TAlignment alignment = taCenter;
  TExplorerButtonLayout layout = blBitmapTop;
  bool wordWrap = false;
};

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const Rect&) const = default;
};

struct LayoutResult {
  bool captionShown = false;
  std::string text;  // the caption as drawn (a blank appended when word-wrapping)
  int spacing = 0;   // S
  int bmpX = 0, bmpY = 0;
  int textX = 0, textY = 0;
  int textWidth = 0, textHeight = 0;  // TW, TH after clipping
  Rect textRect;
};

LayoutResult ComputeLayout(const LayoutInput& in, const MeasureText& measure);

// Removes accelerator marks: "&&" becomes "&", "&x" becomes "x", a trailing "&" stays.
std::string StripAccelerators(const std::string& text);

using vz::AcceleratorOf;
using vz::IsAccelerator;

// The four tones of the shaded copy.
enum class Tone { White, Highlight, Shadow, Black };
// The tone for a pixel whose red + green + blue is `sum` (0..765).
Tone ShadeTone(int sum, TExplorerButtonShadingType type);

// Pixels of the drop-down mark anchored at (x, y): a downward triangle 7, 5, 3, 1 wide.
struct Point {
  int x = 0, y = 0;
  bool operator==(const Point&) const = default;
};
std::vector<Point> MarkPixels(int x, int y);

// The 8 x 8 down pattern: true where the pixel takes the highlight colour.
inline bool DownPatternHighlight(int x, int y) { return (x % 2) == (y % 2); }

}  // namespace vz::explbtn
