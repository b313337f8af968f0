// faxdrv: plays the fax printer driver against a running controller.
//   faxdrv start "DOCUMENT"          document start; prints the file name received
//   faxdrv end                       document end
//   faxdrv job "DOCUMENT" [--bytes N] start, write N bytes into the file, end
//   faxdrv raw HEX...                sends exactly those bytes; prints any reply in hex
//   faxdrv bench N                   N document starts; median, p99 and max round trip in us
//   --window                         the window-message transport instead of the pipe
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "platform/handles.hpp"
#include "tools/driverclient.hpp"

namespace {

using vz::tools::DriverClientError;

struct Options {
  bool window = false;
  std::size_t bytes = 1024;
  std::vector<std::string> args;
};

int Usage() {
  std::fputs(
      "usage: faxdrv [--window] start DOCUMENT | end | job DOCUMENT [--bytes N] | raw HEX... | bench N\n",
      stderr);
  return 2;
}

std::string DocStart(const Options& o, const std::string& document) {
  return o.window ? vz::tools::WindowDocStart(document, vz::driverlink::kPipeTimeoutMs)
                  : vz::tools::PipeDocStart(document);
}

void DocEnd(const Options& o) {
  if (o.window)
    vz::tools::WindowDocEnd(vz::driverlink::kPipeTimeoutMs);
  else
    vz::tools::PipeDocEnd();
}

void WriteImage(const std::string& path, std::size_t bytes) {
  vz::win::Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw DriverClientError("cannot create " + path);
  std::vector<char> block(64 * 1024, 'F');
  while (bytes > 0) {
    const DWORD n = static_cast<DWORD>(std::min(bytes, block.size()));
    DWORD written = 0;
    if (!WriteFile(file.Get(), block.data(), n, &written, nullptr) || written != n)
      throw DriverClientError("cannot write " + path);
    bytes -= n;
  }
}

std::vector<unsigned char> ParseHex(const std::vector<std::string>& words) {
  std::vector<unsigned char> out;
  for (const std::string& word : words) {
    std::string digits;
    for (char c : word)
      if (!std::isspace(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2 != 0) throw DriverClientError("odd number of hex digits in " + word);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
      char* end = nullptr;
      const std::string pair = digits.substr(i, 2);
      const unsigned long v = std::strtoul(pair.c_str(), &end, 16);
      if (end != pair.c_str() + 2) throw DriverClientError("not a hex byte: " + pair);
      out.push_back(static_cast<unsigned char>(v));
    }
  }
  return out;
}

int Raw(const Options& o) {
  if (o.window) throw DriverClientError("raw needs the pipe transport");
  const auto message = ParseHex({o.args.begin() + 1, o.args.end()});
  if (message.empty()) throw DriverClientError("raw needs at least one byte");
  const auto reply = vz::tools::PipeExchange(message, true);
  for (std::size_t i = 0; i < reply.size(); ++i)
    std::printf("%02x%s", reply[i], i + 1 == reply.size() ? "" : " ");
  if (!reply.empty()) std::printf("\n");
  return 0;
}

int Bench(const Options& o, long count) {
  if (count <= 0) return Usage();
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> micros;
  micros.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    DocStart(o, "bench");
    QueryPerformanceCounter(&t1);
    micros.push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) * 1e6 /
                     static_cast<double>(frequency.QuadPart));
  }
  std::sort(micros.begin(), micros.end());
  const auto at = [&](double q) {
    return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
  };
  std::printf("round trips %ld: median %.1f us, p99 %.1f us, max %.1f us\n", count, at(0.5),
              at(0.99), micros.back());
  return 0;
}

int Run(Options& o) {
  if (o.args.empty()) return Usage();
  const std::string& command = o.args[0];
  if (command == "start" && o.args.size() == 2) {
    std::printf("%s\n", DocStart(o, o.args[1]).c_str());
    return 0;
  }
  if (command == "end" && o.args.size() == 1) {
    DocEnd(o);
    return 0;
  }
  if (command == "job" && o.args.size() == 2) {
    const std::string file = DocStart(o, o.args[1]);
    WriteImage(file, o.bytes);
    DocEnd(o);
    std::printf("%s\n", file.c_str());
    return 0;
  }
  if (command == "raw" && o.args.size() >= 2) return Raw(o);
  if (command == "bench" && o.args.size() == 2) return Bench(o, std::strtol(o.args[1].c_str(), nullptr, 10));
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--window") {
      o.window = true;
    } else if (a == "--bytes" && i + 1 < argc) {
      char* end = nullptr;
      const long long n = std::strtoll(argv[++i], &end, 10);
      if (*end != '\0' || n < 0) return Usage();
      o.bytes = static_cast<std::size_t>(n);
    } else {
      o.args.push_back(a);
    }
  }
  try {
    const int rc = Run(o);
    std::fflush(stdout);
    return rc;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "faxdrv: %s\n", e.what());
    return 1;
  }
}
