#include "toolkit/graphics.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "toolkit/exception.hpp"

COLORREF ColorToRGB(TColor color) {
  if ((color & kSystemColorFlag) == kSystemColorFlag) return GetSysColor(static_cast<int>(color & 0xFF));
  return color & 0xFFFFFF;
}

void TFont::SetName(const std::string& name) {
  if (name == name_) return;
  name_ = name;
  Changed();
}

void TFont::SetHeight(int height) {
  if (height == height_) return;
  height_ = height;
  Changed();
}

void TFont::SetColor(TColor color) {
  if (color == color_) return;
  color_ = color;
  Changed();
}

void TFont::SetStyle(unsigned style) {
  if (style == style_) return;
  style_ = style;
  Changed();
}

void TFont::Assign(const TFont& other) {
  name_ = other.name_;
  height_ = other.height_;
  color_ = other.color_;
  style_ = other.style_;
  Changed();
}

void TFont::Changed() {
  handle_.Reset();
  if (OnChange) OnChange();
}

HFONT TFont::Handle() const {
  if (!handle_) {
    LOGFONTA lf{};
    lf.lfHeight = height_;
    lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style_ & fsItalic) ? TRUE : FALSE;
    lf.lfUnderline = (style_ & fsUnderline) ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    const std::size_t n = std::min(name_.size(), static_cast<std::size_t>(LF_FACESIZE - 1));
    std::memcpy(lf.lfFaceName, name_.data(), n);
    handle_.Reset(CreateFontIndirectA(&lf));
  }
  return handle_.Get();
}

void TBitmap::Changed() {
  if (OnChange) OnChange();
}

void TBitmap::Clear() {
  handle_.Reset();
  bits_ = nullptr;
  width_ = height_ = 0;
  Changed();
}

namespace {

// A 32-bit top-down DIB section of the given size.
HBITMAP CreateDib32(int width, int height, std::uint32_t** bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* raw = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &raw, nullptr, 0);
  if (bmp == nullptr) throw Exception("Unable to create a bitmap");
  *bits = static_cast<std::uint32_t*>(raw);
  return bmp;
}

std::uint32_t ToDibPixel(COLORREF c) {
  return (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (static_cast<std::uint32_t>(GetGValue(c)) << 8) |
         GetBValue(c);
}

COLORREF FromDibPixel(std::uint32_t p) { return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF); }

}  // namespace

void TBitmap::SetSize(int width, int height, TColor fill) {
  handle_.Reset();
  bits_ = nullptr;
  width_ = height_ = 0;
  if (width > 0 && height > 0) {
    handle_.Reset(CreateDib32(width, height, &bits_));
    width_ = width;
    height_ = height;
    const std::uint32_t p = ToDibPixel(ColorToRGB(fill));
    for (int i = 0; i < width * height; ++i) bits_[i] = p;
  }
  Changed();
}

void TBitmap::Assign(const TBitmap& other) {
  if (&other == this) return;
  if (other.Empty()) {
    Clear();
    return;
  }
  std::uint32_t* bits = nullptr;
  vz::win::Bitmap copy(CreateDib32(other.width_, other.height_, &bits));
  GdiFlush();
  std::memcpy(bits, other.bits_, static_cast<std::size_t>(other.width_) * other.height_ * 4);
  handle_ = std::move(copy);
  bits_ = bits;
  width_ = other.width_;
  height_ = other.height_;
  Changed();
}

void TBitmap::AssignHandle(HBITMAP source) {
  BITMAP info{};
  if (source == nullptr || GetObjectA(source, sizeof(info), &info) == 0 || info.bmWidth <= 0 ||
      info.bmHeight == 0) {
    Clear();
    return;
  }
  const int width = info.bmWidth;
  const int height = info.bmHeight < 0 ? -info.bmHeight : info.bmHeight;
  std::uint32_t* bits = nullptr;
  vz::win::Bitmap copy(CreateDib32(width, height, &bits));
  vz::win::MemoryDc src(CreateCompatibleDC(nullptr));
  vz::win::MemoryDc dst(CreateCompatibleDC(nullptr));
  {
    vz::win::SelectGuard s(src.Get(), source);
    vz::win::SelectGuard d(dst.Get(), copy.Get());
    BitBlt(dst.Get(), 0, 0, width, height, src.Get(), 0, 0, SRCCOPY);
  }
  GdiFlush();
  handle_ = std::move(copy);
  bits_ = bits;
  width_ = width;
  height_ = height;
  Changed();
}

void TBitmap::LoadFromResourceName(HINSTANCE instance, const char* name) {
  vz::win::Bitmap loaded(static_cast<HBITMAP>(LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (!loaded) throw Exception("Bitmap resource not found");
  AssignHandle(loaded.Get());
}

void TBitmap::LoadFromFile(const std::string& path) {
  vz::win::Bitmap loaded(
      static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  if (!loaded) throw Exception("Unable to load bitmap " + path);
  AssignHandle(loaded.Get());
}

COLORREF TBitmap::Pixel(int x, int y) const {
  if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  GdiFlush();
  return FromDibPixel(bits_[y * width_ + x]);
}

void TBitmap::SetPixel(int x, int y, COLORREF color) {
  if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  GdiFlush();
  bits_[y * width_ + x] = ToDibPixel(color);
}

namespace vz::gfx {

void FillRectColor(HDC dc, const RECT& rect, TColor color) {
  vz::win::Brush brush(CreateSolidBrush(ColorToRGB(color)));
  FillRect(dc, &rect, brush.Get());
}

void FrameRectColor(HDC dc, const RECT& rect, TColor color) {
  vz::win::Brush brush(CreateSolidBrush(ColorToRGB(color)));
  FrameRect(dc, &rect, brush.Get());
}

void Line(HDC dc, int x1, int y1, int x2, int y2, TColor color) {
  vz::win::Pen pen(CreatePen(PS_SOLID, 1, ColorToRGB(color)));
  vz::win::SelectGuard guard(dc, pen.Get());
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
}

void DrawTransparent(HDC dc, const TBitmap& image, int x, int y) {
  if (image.Empty()) return;
  vz::win::MemoryDc mem(CreateCompatibleDC(dc));
  vz::win::SelectGuard guard(mem.Get(), image.Handle());
  TransparentBlt(dc, x, y, image.Width(), image.Height(), mem.Get(), 0, 0, image.Width(), image.Height(),
                 image.TransparentColor());
}

void FillBlackPixels(HDC dc, const TBitmap& image, int x, int y, TColor color) {
  if (image.Empty()) return;
  const int w = image.Width();
  const int h = image.Height();
  // A monochrome mask: 0 where the image is black, 1 elsewhere (rows padded to 32 bits).
  struct MonoInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[2];
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = w;
  info.header.biHeight = -h;
  info.header.biPlanes = 1;
  info.header.biBitCount = 1;
  info.header.biCompression = BI_RGB;
  info.colors[1] = RGBQUAD{0xFF, 0xFF, 0xFF, 0};
  void* raw = nullptr;
  vz::win::Bitmap mask(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &raw, nullptr, 0));
  if (!mask) return;
  const int stride = ((w + 31) / 32) * 4;
  auto* bytes = static_cast<std::uint8_t*>(raw);
  for (int row = 0; row < h; ++row)
    for (int col = 0; col < w; ++col)
      if (image.Pixel(col, row) != RGB(0, 0, 0)) bytes[row * stride + col / 8] |= static_cast<std::uint8_t>(0x80 >> (col % 8));
  vz::win::MemoryDc mem(CreateCompatibleDC(dc));
  vz::win::SelectGuard maskGuard(mem.Get(), mask.Get());
  vz::win::Brush brush(CreateSolidBrush(ColorToRGB(color)));
  vz::win::SelectGuard brushGuard(dc, brush.Get());
  const COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0));
  const COLORREF oldBk = SetBkColor(dc, RGB(255, 255, 255));
  // PSDPxax: the brush where the mask is 0, the destination where it is 1.
  constexpr DWORD kRopBrushWhereMaskClear = 0x00B8074A;
  BitBlt(dc, x, y, w, h, mem.Get(), 0, 0, kRopBrushWhereMaskClear);
  SetTextColor(dc, oldText);
  SetBkColor(dc, oldBk);
}

}  // namespace vz::gfx
