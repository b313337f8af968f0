#pragma once
// Colours, fonts and bitmaps of the toolkit, and the few drawing helpers the
// controls share. Bitmaps are 32-bit top-down DIB sections so that their pixels
// can be read and changed in memory.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/handles.hpp"

// An RGB value (0x00BBGGRR) or, with the top byte 0xFF, a system colour index.
using TColor = std::uint32_t;

inline constexpr TColor kSystemColorFlag = 0xFF000000u;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clBtnFace = kSystemColorFlag | COLOR_BTNFACE;
inline constexpr TColor clBtnHighlight = kSystemColorFlag | COLOR_BTNHIGHLIGHT;
inline constexpr TColor clBtnShadow = kSystemColorFlag | COLOR_BTNSHADOW;
inline constexpr TColor clBtnText = kSystemColorFlag | COLOR_BTNTEXT;
inline constexpr TColor clWindow = kSystemColorFlag | COLOR_WINDOW;
inline constexpr TColor clWindowText = kSystemColorFlag | COLOR_WINDOWTEXT;
inline constexpr TColor clInfoBk = kSystemColorFlag | COLOR_INFOBK;

// The RGB value of a colour, system colours resolved.
COLORREF ColorToRGB(TColor color);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4 };

// A logical font: name, height in pixels (negative: character height), colour, style.
class TFont {
 public:
  TFont() = default;
  TFont(const TFont&) = delete;
  TFont& operator=(const TFont&) = delete;

  const std::string& Name() const noexcept { return name_; }
  void SetName(const std::string& name);
  int Height() const noexcept { return height_; }
  void SetHeight(int height);
  TColor Color() const noexcept { return color_; }
  void SetColor(TColor color);
  unsigned Style() const noexcept { return style_; }
  void SetStyle(unsigned style);
  void Assign(const TFont& other);

  // The GDI font, created on first use and kept until a property changes.
  HFONT Handle() const;

  // Called after any property changes.
  std::function<void()> OnChange;

 private:
  void Changed();
  std::string name_ = "Arial";
  int height_ = -11;
  TColor color_ = clWindowText;
  unsigned style_ = 0;
  mutable vz::win::Font handle_;
};

// A bitmap held as a 32-bit top-down DIB section; empty when it has no pixels.
class TBitmap {
 public:
  TBitmap() = default;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  bool Empty() const noexcept { return !handle_; }
  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  HBITMAP Handle() const noexcept { return handle_.Get(); }

  void Clear();
  // A new bitmap of the given size, filled with `fill`.
  void SetSize(int width, int height, TColor fill = clWhite);
  void Assign(const TBitmap& other);
  // Copies a device-dependent or DIB bitmap; the source stays with the caller.
  void AssignHandle(HBITMAP source);
  // A BMP resource by name (or MAKEINTRESOURCE id) of `instance`; throws Exception if missing.
  void LoadFromResourceName(HINSTANCE instance, const char* name);
  void LoadFromFile(const std::string& path);

  COLORREF Pixel(int x, int y) const;
  void SetPixel(int x, int y, COLORREF color);
  // The colour of the top-left pixel: the transparent colour of button images.
  COLORREF TransparentColor() const { return Pixel(0, 0); }

  // Called after the picture changes (Assign, load, SetSize, Clear).
  std::function<void()> OnChange;

 private:
  void Changed();
  vz::win::Bitmap handle_;
  std::uint32_t* bits_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

namespace vz::gfx {

void FillRectColor(HDC dc, const RECT& rect, TColor color);
void FrameRectColor(HDC dc, const RECT& rect, TColor color);
// A one-pixel line from (x1, y1) to, but not including, (x2, y2).
void Line(HDC dc, int x1, int y1, int x2, int y2, TColor color);
// Draws `image` with the colour of its top-left pixel left out.
void DrawTransparent(HDC dc, const TBitmap& image, int x, int y);
// Paints the pixels of `mask` that are black in `image` with `color` at (x, y).
void FillBlackPixels(HDC dc, const TBitmap& image, int x, int y, TColor color);

}  // namespace vz::gfx
