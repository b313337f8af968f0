#include "widgets/explbtn_layout.hpp"

#include <algorithm>

namespace vz::explbtn {

namespace {
// Room kept beside the caption: 2 pixels of margin on each side.
constexpr int kTextMargin = 4;
// The drop-down mark with its gap takes this much width.
constexpr int kMarkWidth = 10;
constexpr int kSideInset = 3;
constexpr int kWrapInset = 5;
constexpr int kSpacing = 2;
}  // namespace

LayoutResult ComputeLayout(const LayoutInput& in, const MeasureText& measure) {
  LayoutResult r;
  const int w = in.width;
  const int h = in.height;
  int tw = 0;
  int th = 0;
  int s = 0;
  r.captionShown = !in.iconOnly && !in.caption.empty();
  if (r.captionShown) {
    s = kSpacing;
    r.text = in.wordWrap ? in.caption + " " : in.caption;
    const TextExtent extent = measure(r.text, w - kTextMargin, in.alignment, in.wordWrap);
    tw = extent.width;
    th = extent.height;
  }
  tw = std::min(tw, w - kTextMargin);

  const int bw = (in.bitmapEmpty ? 0 : in.bitmapWidth) + (in.markShown ? kMarkWidth : 0);
  const int bh = in.bitmapEmpty ? 0 : in.bitmapHeight;
  int bmpX = 0, bmpY = 0, textX = 0, textY = 0;

  if (in.bitmapEmpty) {
    int total = tw;
    if (in.markShown) {
      total = tw + kMarkWidth;
      tw = std::min(tw, w - kTextMargin - kMarkWidth);
    }
    textY = (h - th) / 2;
    switch (in.alignment) {
      case taLeftJustify: textX = kSideInset; break;
      case taRightJustify: textX = w - total - kSideInset; break;
      case taCenter: textX = (w - total) / 2; break;
    }
  } else if (in.layout == blBitmapTop || in.layout == blBitmapBottom) {
    if (in.layout == blBitmapTop) {
      bmpY = (h - (bh + th + s)) / 2;
      textY = bmpY + bh + s;
    } else {
      textY = (h - (bh + th + s)) / 2;
      bmpY = textY + th + s;
    }
    switch (in.alignment) {
      case taLeftJustify:
        bmpX = kSideInset;
        textX = kSideInset;
        break;
      case taRightJustify:
        bmpX = w - bw - kSideInset;
        textX = w - tw - kSideInset;
        break;
      case taCenter:
        bmpX = (w - bw) / 2;
        textX = (w - tw) / 2;
        break;
    }
  } else {
    if (w - kTextMargin < bw + tw + s) tw = w - kTextMargin - s - bw;
    bmpY = (h - bh) / 2;
    textY = (h - th) / 2;
    if (in.layout == blBitmapLeft) {
      switch (in.alignment) {
        case taLeftJustify:
          bmpX = kSideInset;
          textX = bmpX + bw + s;
          break;
        case taRightJustify:
          textX = w - tw - kSideInset;
          bmpX = textX - bw - s;
          break;
        case taCenter:
          bmpX = (w - (bw + tw + s)) / 2;
          textX = bmpX + bw + s;
          break;
      }
    } else {
      switch (in.alignment) {
        case taLeftJustify:
          textX = kSideInset;
          bmpX = textX + tw + s;
          break;
        case taRightJustify:
          bmpX = w - bw - kSideInset;
          textX = bmpX - tw - s;
          break;
        case taCenter:
          textX = (w - (bw + tw + s)) / 2;
          bmpX = textX + tw + s;
          break;
      }
    }
  }
  if (in.wordWrap && textX + tw > w - kWrapInset) tw = w - textX - kWrapInset;

  r.spacing = s;
  r.bmpX = bmpX;
  r.bmpY = bmpY;
  r.textX = textX;
  r.textY = textY;
  r.textWidth = tw;
  r.textHeight = th;
  r.textRect = Rect{textX, textY, textX + tw, textY + th};
  return r;
}

std::string StripAccelerators(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) {
      // "&&" keeps one "&"; "&x" keeps only "x". Either way the next character stays.
      ++i;
    }
    out += text[i];
  }
  return out;
}

Tone ShadeTone(int sum, TExplorerButtonShadingType type) {
  struct Thresholds {
    int white, highlight, shadow;
  };
  static constexpr Thresholds kLight{205, 127, 68};
  static constexpr Thresholds kMedium{553, 231, 57};
  static constexpr Thresholds kDark{335, 274, 175};
  const Thresholds& t = type == stLight ? kLight : type == stDark ? kDark : kMedium;
  if (sum > t.white) return Tone::White;
  if (sum > t.highlight) return Tone::Highlight;
  if (sum > t.shadow) return Tone::Shadow;
  return Tone::Black;
}

std::vector<Point> MarkPixels(int x, int y) {
  std::vector<Point> pixels;
  // Rows of 7, 5, 3 and 1 pixels, each row one pixel narrower on both sides.
  for (int row = 0; row < 4; ++row)
    for (int px = x + row; px <= x + 6 - row; ++px) pixels.push_back(Point{px, y - 1 + row});
  return pixels;
}

}  // namespace vz::explbtn
