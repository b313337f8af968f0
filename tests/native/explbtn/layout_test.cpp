#include <gtest/gtest.h>

#include "widgets/explbtn_layout.hpp"

using namespace vz::explbtn;

namespace {

// A caption that measures a fixed size, remembering how it was asked.
struct FixedMeasure {
  FixedMeasure(int w, int h) : width(w), height(h) {}
  int width;
  int height;
  mutable int calls = 0;
  mutable std::string lastText;
  mutable int lastMaxWidth = -1;
  mutable bool lastWordWrap = false;
  MeasureText Fn() const {
    return [this](const std::string& text, int maxWidth, TAlignment, bool wordWrap) {
      ++calls;
      lastText = text;
      lastMaxWidth = maxWidth;
      lastWordWrap = wordWrap;
      return TextExtent{width, height};
    };
  }
};

LayoutInput Button(int w, int h, TExplorerButtonLayout layout, TAlignment alignment) {
  LayoutInput in;
  in.width = w;
  in.height = h;
  in.bitmapEmpty = false;
  in.bitmapWidth = 24;
  in.bitmapHeight = 24;
  in.caption = "&New";
  in.layout = layout;
  in.alignment = alignment;
  return in;
}

struct Expect {
  int bmpX, bmpY, textX, textY, textWidth;
};

void Check(const LayoutResult& r, const Expect& e) {
  EXPECT_EQ(r.bmpX, e.bmpX);
  EXPECT_EQ(r.bmpY, e.bmpY);
  EXPECT_EQ(r.textX, e.textX);
  EXPECT_EQ(r.textY, e.textY);
  EXPECT_EQ(r.textWidth, e.textWidth);
  EXPECT_EQ(r.textRect, (Rect{e.textX, e.textY, e.textX + e.textWidth, e.textY + r.textHeight}));
}

}  // namespace

TEST(ExplorerButtonLayout, DialogButtonOf57x41WithBitmapAboveCaption) {
  FixedMeasure m{30, 14};
  const LayoutResult r = ComputeLayout(Button(57, 41, blBitmapTop, taCenter), m.Fn());
  EXPECT_TRUE(r.captionShown);
  EXPECT_EQ(r.spacing, 2);
  EXPECT_EQ(r.bmpY, 0);   // half of (41 - 40)
  EXPECT_EQ(r.textY, 26);
  EXPECT_EQ(r.bmpX, 16);
  EXPECT_EQ(r.textX, 13);
  EXPECT_EQ(r.text, "&New");
  EXPECT_EQ(m.lastMaxWidth, 53);
  EXPECT_FALSE(m.lastWordWrap);
}

TEST(ExplorerButtonLayout, VerticalLayoutsInEachAlignment) {
  FixedMeasure m{30, 14};
  Check(ComputeLayout(Button(57, 41, blBitmapTop, taLeftJustify), m.Fn()), {3, 0, 3, 26, 30});
  Check(ComputeLayout(Button(57, 41, blBitmapTop, taRightJustify), m.Fn()), {30, 0, 24, 26, 30});
  Check(ComputeLayout(Button(57, 41, blBitmapTop, taCenter), m.Fn()), {16, 0, 13, 26, 30});
  Check(ComputeLayout(Button(57, 41, blBitmapBottom, taLeftJustify), m.Fn()), {3, 16, 3, 0, 30});
  Check(ComputeLayout(Button(57, 41, blBitmapBottom, taRightJustify), m.Fn()), {30, 16, 24, 0, 30});
  Check(ComputeLayout(Button(57, 41, blBitmapBottom, taCenter), m.Fn()), {16, 16, 13, 0, 30});
}

TEST(ExplorerButtonLayout, SideLayoutsInEachAlignment) {
  FixedMeasure m{30, 14};
  Check(ComputeLayout(Button(100, 41, blBitmapLeft, taLeftJustify), m.Fn()), {3, 8, 29, 13, 30});
  Check(ComputeLayout(Button(100, 41, blBitmapLeft, taRightJustify), m.Fn()), {41, 8, 67, 13, 30});
  Check(ComputeLayout(Button(100, 41, blBitmapLeft, taCenter), m.Fn()), {22, 8, 48, 13, 30});
  Check(ComputeLayout(Button(100, 41, blBitmapRight, taLeftJustify), m.Fn()), {35, 8, 3, 13, 30});
  Check(ComputeLayout(Button(100, 41, blBitmapRight, taRightJustify), m.Fn()), {73, 8, 41, 13, 30});
  Check(ComputeLayout(Button(100, 41, blBitmapRight, taCenter), m.Fn()), {54, 8, 22, 13, 30});
}

TEST(ExplorerButtonLayout, WideCaptionsAreClipped) {
  // Above the bitmap: to W - 4.
  FixedMeasure wide{80, 14};
  Check(ComputeLayout(Button(57, 41, blBitmapTop, taCenter), wide.Fn()), {16, 0, 2, 26, 53});
  // Beside the bitmap: W - 4 - S - BW.
  Check(ComputeLayout(Button(57, 41, blBitmapLeft, taLeftJustify), wide.Fn()), {3, 8, 29, 13, 27});
  Check(ComputeLayout(Button(57, 41, blBitmapRight, taRightJustify), wide.Fn()), {30, 8, 1, 13, 27});
}

TEST(ExplorerButtonLayout, MarkWidensTheBitmapAndClipsABareCaption) {
  FixedMeasure m{30, 14};
  LayoutInput in = Button(57, 41, blBitmapTop, taCenter);
  in.markShown = true;
  Check(ComputeLayout(in, m.Fn()), {11, 0, 13, 26, 30});  // BW = 24 + 10

  // No bitmap: the caption is centred together with the mark, and clipped to W - 14.
  FixedMeasure wide{60, 14};
  LayoutInput bare = in;
  bare.bitmapEmpty = true;
  bare.width = 50;
  const LayoutResult r = ComputeLayout(bare, wide.Fn());
  EXPECT_EQ(r.textWidth, 36);
  EXPECT_EQ(r.textX, -3);  // half of (50 - 56), rounded toward zero
  EXPECT_EQ(r.textY, 13);
  bare.alignment = taRightJustify;
  EXPECT_EQ(ComputeLayout(bare, wide.Fn()).textX, 50 - 56 - 3);
  bare.alignment = taLeftJustify;
  EXPECT_EQ(ComputeLayout(bare, wide.Fn()).textX, 3);
}

TEST(ExplorerButtonLayout, NoCaptionWhenEmptyOrIconOnly) {
  FixedMeasure m{30, 14};
  LayoutInput in = Button(57, 41, blBitmapTop, taCenter);
  in.iconOnly = true;
  LayoutResult r = ComputeLayout(in, m.Fn());
  EXPECT_FALSE(r.captionShown);
  EXPECT_EQ(m.calls, 0);
  EXPECT_EQ(r.spacing, 0);
  EXPECT_EQ(r.bmpY, 8);  // half of (41 - 24)
  EXPECT_EQ(r.bmpX, 16);
  in.iconOnly = false;
  in.caption.clear();
  r = ComputeLayout(in, m.Fn());
  EXPECT_FALSE(r.captionShown);
  EXPECT_EQ(m.calls, 0);
  EXPECT_EQ(r.bmpY, 8);
}

TEST(ExplorerButtonLayout, NarrowButtonHalvesTowardZero) {
  FixedMeasure m{30, 14};
  const LayoutResult r = ComputeLayout(Button(20, 30, blBitmapTop, taCenter), m.Fn());
  EXPECT_EQ(r.bmpX, -2);       // half of (20 - 24)
  EXPECT_EQ(r.textWidth, 16);  // clipped to W - 4
  EXPECT_EQ(r.textX, 2);
  EXPECT_EQ(r.bmpY, -5);       // half of (30 - 40) is -5
}

TEST(ExplorerButtonLayout, WordWrapMeasuresWithATrailingBlankAndKeepsARightMargin) {
  FixedMeasure m{53, 28};
  LayoutInput in = Button(57, 60, blBitmapTop, taCenter);
  in.caption = "Hello world";
  in.wordWrap = true;
  const LayoutResult r = ComputeLayout(in, m.Fn());
  EXPECT_EQ(m.lastText, "Hello world ");
  EXPECT_EQ(r.text, "Hello world ");
  EXPECT_TRUE(m.lastWordWrap);
  EXPECT_EQ(m.lastMaxWidth, 53);
  EXPECT_EQ(r.textX, 2);
  EXPECT_EQ(r.textWidth, 50);  // 2 + 53 > 57 - 5, so W - TextX - 5
  EXPECT_EQ(r.textY, 29);      // bmpY = half of (60 - 54) = 3, + 24 + 2
  EXPECT_EQ(r.textHeight, 28);

  // Without word wrap the same caption keeps its width.
  in.wordWrap = false;
  EXPECT_EQ(ComputeLayout(in, m.Fn()).textWidth, 53);
}

TEST(ExplorerButtonAccelerators, StripAccelerators) {
  EXPECT_EQ(StripAccelerators("Cance&l"), "Cancel");
  EXPECT_EQ(StripAccelerators("&New"), "New");
  EXPECT_EQ(StripAccelerators("Fish && Chips"), "Fish & Chips");
  EXPECT_EQ(StripAccelerators("&&&x"), "&x");
  EXPECT_EQ(StripAccelerators("end&"), "end&");
  EXPECT_EQ(StripAccelerators("&"), "&");
  EXPECT_EQ(StripAccelerators(""), "");
}

TEST(ExplorerButtonAccelerators, AcceleratorLetter) {
  EXPECT_EQ(AcceleratorOf("Cance&l"), 'l');
  EXPECT_EQ(AcceleratorOf("Fish && Chips"), 0);
  EXPECT_EQ(AcceleratorOf("&&&x"), 'x');
  EXPECT_EQ(AcceleratorOf("x&"), 0);
  EXPECT_EQ(AcceleratorOf("plain"), 0);
  EXPECT_TRUE(IsAccelerator('L', "Cance&l"));
  EXPECT_TRUE(IsAccelerator('a', "&Accept"));
  EXPECT_FALSE(IsAccelerator('c', "Cance&l"));
  EXPECT_FALSE(IsAccelerator('&', "A&&B"));
  EXPECT_FALSE(IsAccelerator(0, "plain"));
}

TEST(ExplorerButtonImages, ShadingThresholdsOfEachType) {
  struct Case {
    TExplorerButtonShadingType type;
    int white, highlight, shadow;
  };
  for (const Case& c : {Case{stLight, 205, 127, 68}, Case{stMedium, 553, 231, 57},
                        Case{stDark, 335, 274, 175}}) {
    SCOPED_TRACE(static_cast<int>(c.type));
    EXPECT_EQ(ShadeTone(765, c.type), Tone::White);
    EXPECT_EQ(ShadeTone(c.white + 1, c.type), Tone::White);
    EXPECT_EQ(ShadeTone(c.white, c.type), Tone::Highlight);
    EXPECT_EQ(ShadeTone(c.highlight + 1, c.type), Tone::Highlight);
    EXPECT_EQ(ShadeTone(c.highlight, c.type), Tone::Shadow);
    EXPECT_EQ(ShadeTone(c.shadow + 1, c.type), Tone::Shadow);
    EXPECT_EQ(ShadeTone(c.shadow, c.type), Tone::Black);
    EXPECT_EQ(ShadeTone(0, c.type), Tone::Black);
  }
}

TEST(ExplorerButtonImages, MarkIsADownwardTriangle) {
  const std::vector<Point> px = MarkPixels(10, 20);
  ASSERT_EQ(px.size(), 16u);
  EXPECT_EQ(px.front(), (Point{10, 19}));
  EXPECT_EQ(px[6], (Point{16, 19}));
  EXPECT_EQ(px[7], (Point{11, 20}));
  EXPECT_EQ(px[11], (Point{15, 20}));
  EXPECT_EQ(px[12], (Point{12, 21}));
  EXPECT_EQ(px[14], (Point{14, 21}));
  EXPECT_EQ(px.back(), (Point{13, 22}));
}

TEST(ExplorerButtonImages, DownPatternIsACheckerboard) {
  EXPECT_TRUE(DownPatternHighlight(0, 0));
  EXPECT_TRUE(DownPatternHighlight(1, 1));
  EXPECT_FALSE(DownPatternHighlight(1, 0));
  EXPECT_FALSE(DownPatternHighlight(6, 7));
  EXPECT_TRUE(DownPatternHighlight(7, 3));
}
