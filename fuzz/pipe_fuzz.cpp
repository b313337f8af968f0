// libFuzzer target: the driver request decoder must take any bytes a local
// process sends and never read past what arrived.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "driverlink/pipeproto.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // An exact-size copy, so that AddressSanitizer sees any read beyond the message.
  const std::vector<unsigned char> bytes(data, data + size);
  const vz::driverlink::Request r = vz::driverlink::DecodeRecord(bytes.data(), bytes.size());
  const std::size_t arrived = size < vz::driverlink::kMessageSize ? size : vz::driverlink::kMessageSize;
  if (r.code != bytes[0]) std::abort();
  if (r.text.size() > 255 || (arrived < 2 ? r.text.size() != 0 : r.text.size() > arrived - 2))
    std::abort();
  const auto again = vz::driverlink::EncodeRecord(r.code, r.text);
  if (vz::driverlink::DecodeRecord(again.data(), again.size()).text != r.text) std::abort();
  return 0;
}
