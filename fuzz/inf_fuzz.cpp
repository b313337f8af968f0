// libFuzzer target: the INF helpers take any text a setup file holds. The input
// is split at the first NUL byte into a [Strings]-style list (lines) and a value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "installer/infparse.hpp"
#include "toolkit/exception.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\0');
  const std::string listText = input.substr(0, cut);
  const std::string value = cut == std::string::npos ? input : input.substr(cut + 1);

  vz::inst::InfLineReader reader(listText);
  std::vector<std::string> list;
  std::string line;
  while (reader.ReadLine(line)) {
    if (line.size() > 255) std::abort();
    list.push_back(line);
  }
  try {
    if (vz::inst::ExpandInfToken(list, value).size() > 255) std::abort();
  } catch (const Exception&) {
    if (value.find('%') == std::string::npos) std::abort();
  }
  for (int n = 0; n <= 3; ++n)
    if (vz::inst::NthWord(n, value, ",=\"\\").size() > value.size()) std::abort();
  const std::string found = vz::inst::FindInfLine(reader, "RASDD", "[FILES-PRINTERDRIVER]");
  if (!found.empty() && found.find("RASDD") == std::string::npos) std::abort();
  try {
    vz::inst::InfInteger(value);
  } catch (const Exception&) {
  }
  return 0;
}
