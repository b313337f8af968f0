#include "installer/infparse.hpp"

#include <algorithm>
#include <limits>

#include "common/text.hpp"
#include "toolkit/exception.hpp"

namespace vz::inst {

std::string NthWord(int n, std::string_view text, std::string_view delimiters) {
  std::size_t pos = 0;
  for (int word = 1; n >= 1; ++word) {
    pos = text.find_first_not_of(delimiters, pos);
    if (pos == std::string_view::npos) return {};
    const std::size_t end = std::min(text.find_first_of(delimiters, pos), text.size());
    if (word == n) return std::string(text.substr(pos, end - pos));
    pos = end;
  }
  return {};
}

std::string ExpandInfToken(const std::vector<std::string>& list, std::string_view text) {
  const std::size_t open = text.find('%');
  if (open == std::string_view::npos) return Clip255(text);
  const std::size_t close = text.find('%', open + 1);
  if (close == std::string_view::npos) throw Exception("Unexpected INF format encountered");
  const std::string_view token = text.substr(open + 1, close - open - 1);
  std::string value;
  for (const std::string& line : list) {
    if (line.compare(0, token.size(), token) != 0) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    value = line.substr(eq + 1);
    break;
  }
  std::string result(text.substr(0, open));
  result += value;
  result += text.substr(close + 1);
  return Clip255(result);
}

bool InfLineReader::ReadLine(std::string& line) {
  if (pos_ >= contents_.size()) return false;
  std::size_t end = contents_.find_first_of("\r\n", pos_);
  if (end == std::string::npos) end = contents_.size();
  line = Clip255(std::string_view(contents_).substr(pos_, end - pos_));
  pos_ = end;
  if (pos_ < contents_.size() && contents_[pos_] == '\r') ++pos_;
  if (pos_ < contents_.size() && contents_[pos_] == '\n') ++pos_;
  return true;
}

namespace {

bool IsSectionLine(const std::string& line) {
  return !line.empty() && line.front() == '[' && line.back() == ']';
}

}  // namespace

std::string FindInfLine(InfLineReader& reader, std::string_view name, std::string_view sectionHeader) {
  reader.Rewind();
  std::string line;
  bool inSection = false;
  while (!inSection && reader.ReadLine(line)) inSection = UpperAscii(line).find(sectionHeader) != std::string::npos;
  if (!inSection) return {};
  while (reader.ReadLine(line)) {
    const std::string upper = UpperAscii(line);
    if (upper.find(name) != std::string::npos) return upper;
    if (IsSectionLine(line)) return {};
  }
  return {};
}

std::int32_t InfInteger(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  const std::size_t digitsStart = pos;
  std::int64_t value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10 + (text[pos] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) break;
  }
  if (negative) value = -value;
  if (pos == digitsStart || pos != text.size() || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    throw Exception("'" + std::string(text) + "' is not a valid integer value");
  return static_cast<std::int32_t>(value);
}

}  // namespace vz::inst
