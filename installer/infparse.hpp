#pragma once
// Helpers for Windows' setup INF files: words of a line, %token% expansion from
// a [Strings] list, the line search in PRINTER.INF and INF integers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vz::inst {

// Word n (from 1) of `text`: a word is a maximal run of characters not in
// `delimiters`; empty fields between delimiters are no words. "" when there are
// fewer than n words.
std::string NthWord(int n, std::string_view text, std::string_view delimiters);

// Replaces the first %token% of `text` with the value of the first "key=value"
// line of `list` that begins with the token (case included) and holds a '='; the
// token is dropped when no line matches. A lone '%' throws "Unexpected INF format
// encountered". The result holds at most 255 characters.
std::string ExpandInfToken(const std::vector<std::string>& list, std::string_view text);

// Reads a text file line by line; a line ends at CR LF, LF or CR and keeps at
// most 255 characters (the rest of a longer line is skipped).
class InfLineReader {
 public:
  explicit InfLineReader(std::string contents) : contents_(std::move(contents)) {}
  void Rewind() noexcept { pos_ = 0; }
  // False at the end of the file.
  bool ReadLine(std::string& line);

 private:
  std::string contents_;
  std::size_t pos_ = 0;
};

// The first line after the line holding `sectionHeader` (compared in upper case)
// that holds `name`, in upper case; the scan stops at the next "[...]" line (which
// still counts when it holds the name) or at the end of the file. "" when not found.
std::string FindInfLine(InfLineReader& reader, std::string_view name, std::string_view sectionHeader);

// An INF integer field: optional leading blanks, an optional sign, decimal digits,
// nothing else; throws "'<text>' is not a valid integer value" otherwise.
std::int32_t InfInteger(std::string_view text);

}  // namespace vz::inst
