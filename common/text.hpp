#pragma once
// Short text rules shared by both programs: 255-character limits, backslash paths.
#include <cstddef>
#include <string>
#include <string_view>

namespace vz {

// Longest text a length byte can count, and the limit of message and path texts.
inline constexpr std::size_t kShortStringMax = 255;

// The first 255 characters of text (all of it when shorter).
std::string Clip255(std::string_view text);

// Joins a directory and a file name with '\', unless the directory is empty or
// already ends in '\' or ':'.
std::string JoinPath(std::string_view dir, std::string_view name);

// The directory part of a full path: everything up to and including the last '\'
// or ':', with a '\' appended when the cut leaves none at the end.
std::string DirectoryOf(std::string_view path);

// True for a path that names its drive and root folder ("C:\\...") or a network
// share ("\\\\server\\share\\..."): one that means the same file whatever the
// current drive and folder, and that no search order is asked about.
bool IsFullPath(std::string_view path);

// The file name with its extension replaced ("X.APF" -> "X.JFD"); the extension
// is what follows the last '.' after the last '\' or ':'.
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// printf-style formatting into a std::string, for the system's "%d" messages.
// MinGW's C++ runtime formats with its own C99 printf, so the checks follow GNU rules.
#if defined(__MINGW32__)
std::string Format(const char* fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
#else
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
#endif

// The accelerator character of a caption (the character after a single "&"), or 0.
char AcceleratorOf(std::string_view caption);
// True when `ch` is the caption's accelerator, compared without regard to case.
bool IsAccelerator(char ch, std::string_view caption);

// ASCII upper case, as the system's case-blind name comparisons use.
std::string UpperAscii(std::string_view text);

}  // namespace vz
