#include "common/text.hpp"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace vz {

std::string Clip255(std::string_view text) {
  return std::string(text.substr(0, kShortStringMax));
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '\\' && out.back() != ':') out += '\\';
  out += name;
  return out;
}

std::string DirectoryOf(std::string_view path) {
  const auto cut = path.find_last_of("\\:");
  std::string dir(cut == std::string_view::npos ? std::string_view() : path.substr(0, cut + 1));
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir;
}

bool IsFullPath(std::string_view path) {
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 3 && isLetter(path[0]) && path[1] == ':' && path[2] == '\\') return true;
  return path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
  const auto dot = path.find_last_of(".\\:");
  std::string out(path);
  if (dot != std::string_view::npos && path[dot] == '.') out.resize(dot);
  out += ext;
  return out;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), fmt, args);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

char AcceleratorOf(std::string_view caption) {
  for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return caption[i + 1];
  }
  return 0;
}

bool IsAccelerator(char ch, std::string_view caption) {
  const char accel = AcceleratorOf(caption);
  if (accel == 0 || ch == 0) return false;
  const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
  return lower(accel) == lower(ch);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace vz
