#include "driverlink/pipeproto.hpp"

#include <algorithm>

namespace vz::driverlink {

Message EncodeRecord(std::uint8_t code, std::string_view text) {
  Message m{};
  const std::size_t n = std::min(text.size(), kTextCapacity);
  m[kCodeOffset] = code;
  m[kLengthOffset] = static_cast<unsigned char>(n);
  std::copy_n(text.begin(), n, m.begin() + kTextOffset);
  return m;
}

Request DecodeRecord(const unsigned char* bytes, std::size_t received) {
  Request r;
  received = std::min(received, kMessageSize);
  if (received == 0) return r;
  r.code = bytes[kCodeOffset];
  if (received <= kTextOffset) return r;
  const std::size_t claimed = received > kLengthOffset ? bytes[kLengthOffset] : 0;
  const std::size_t n = std::min(claimed, received - kTextOffset);
  r.text.assign(reinterpret_cast<const char*>(bytes + kTextOffset), n);
  return r;
}

}  // namespace vz::driverlink
