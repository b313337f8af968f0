#include "toolkit/dlgtemplate.hpp"

#include "common/bytes.hpp"
#include "toolkit/exception.hpp"

namespace vz::dlg {

namespace {

constexpr std::uint16_t kExVersion = 1;
constexpr std::uint16_t kExSignature = 0xFFFF;
constexpr std::uint16_t kOrdinalMarker = 0xFFFF;
// Style bits that announce the font fields after the title.
constexpr std::uint32_t kDsSetFont = 0x40;
constexpr std::uint32_t kDsShellFont = 0x48;

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint16_t Word() {
    Need(2);
    const std::uint16_t v = GetLE16(data_ + pos_);
    pos_ += 2;
    return v;
  }
  std::uint32_t Dword() {
    Need(4);
    const std::uint32_t v = GetLE32(data_ + pos_);
    pos_ += 4;
    return v;
  }
  int Short() { return static_cast<std::int16_t>(Word()); }
  std::uint8_t Byte() {
    Need(1);
    return data_[pos_++];
  }
  // A zero-terminated UTF-16 string, narrowed to 8 bits (characters above 255 become '?').
  std::string String() {
    std::string s;
    for (;;) {
      const std::uint16_t c = Word();
      if (c == 0) return s;
      s += c < 0x100 ? static_cast<char>(c) : '?';
    }
  }
  // A string, or 0xFFFF followed by an ordinal.
  void StringOrOrdinal(std::string& text, int& ordinal) {
    Need(2);
    if (GetLE16(data_ + pos_) == kOrdinalMarker) {
      pos_ += 2;
      ordinal = Word();
      text.clear();
    } else {
      ordinal = 0;
      text = String();
    }
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3); }
  void Skip(std::size_t n) {
    Need(n);
    pos_ += n;
  }

 private:
  void Need(std::size_t n) const {
    if (pos_ + n > size_) throw Exception("Dialog template is truncated");
  }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace

Template Parse(const std::uint8_t* data, std::size_t size) {
  Reader r(data, size);
  Template t;
  const std::uint16_t version = r.Word();
  const std::uint16_t signature = r.Word();
  if (version != kExVersion || signature != kExSignature) throw Exception("Dialog template is not a DIALOGEX");
  r.Dword();  // help ID
  t.exStyle = r.Dword();
  t.style = r.Dword();
  const int count = r.Word();
  t.x = r.Short();
  t.y = r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  std::string menu;
  int menuOrdinal = 0;
  r.StringOrOrdinal(menu, menuOrdinal);
  int classOrdinal = 0;
  r.StringOrOrdinal(t.className, classOrdinal);
  t.title = r.String();
  if ((t.style & kDsSetFont) == kDsSetFont || (t.style & kDsShellFont) == kDsShellFont) {
    t.pointSize = r.Word();
    t.weight = r.Word();
    t.italic = r.Byte() != 0;
    r.Byte();  // character set
    t.typeface = r.String();
  }
  for (int i = 0; i < count; ++i) {
    r.AlignDword();
    Item item;
    item.helpId = r.Dword();
    item.exStyle = r.Dword();
    item.style = r.Dword();
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = r.Dword();
    r.StringOrOrdinal(item.className, item.classOrdinal);
    int titleOrdinal = 0;
    r.StringOrOrdinal(item.title, titleOrdinal);
    const std::uint16_t extra = r.Word();
    r.Skip(extra);
    t.items.push_back(std::move(item));
  }
  return t;
}

}  // namespace vz::dlg
