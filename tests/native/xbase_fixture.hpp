#pragma once
// The golden files written by an independent xBase engine, kept in the repository
// under tests/fixtures/xbase (VZ_XBASE_FIXTURES).
#include <filesystem>
#include <stdexcept>
#include <string>

namespace vz::test {

// The path of a fixture below tests/fixtures/xbase ("n2000/VZPB.cdx"). A missing
// one ends the test with an error naming the path, never with a parse error of
// an empty read.
inline std::string XbaseFixture(const std::string& relative) {
  const std::string path = std::string(VZ_XBASE_FIXTURES) + "/" + relative;
  if (!std::filesystem::exists(path)) throw std::runtime_error("missing test fixture: " + path);
  return path;
}

}  // namespace vz::test
