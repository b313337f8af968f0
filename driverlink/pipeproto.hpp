#pragma once
// The records that cross \\.\pipe\ApFaxCnv between the fax printer driver and the
// controller: one 257-byte message each way, text as a length byte plus up to 255
// ANSI characters.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vz::driverlink {

inline constexpr char kPipeName[] = "\\\\.\\pipe\\ApFaxCnv";
inline constexpr char kSemaphoreName[] = "ApFaxCnvSem";
inline constexpr std::size_t kMessageSize = 257;
inline constexpr unsigned kPipeTimeoutMs = 5000;

// Window-message transport (platforms other than Windows NT).
inline constexpr unsigned kWmDocStart = 32397;  // 0x7E8D
inline constexpr unsigned kWmDocEnd = 32398;    // 0x7E8E

enum RequestCode : std::uint8_t {
  kCodeNothing = 0,
  kCodeDocStart = 1,
  kCodeDocEnd = 2,
};
inline constexpr std::uint8_t kReplyFileName = 3;

// Offsets within both records.
inline constexpr std::size_t kCodeOffset = 0;
inline constexpr std::size_t kLengthOffset = 1;
inline constexpr std::size_t kTextOffset = 2;
inline constexpr std::size_t kTextCapacity = kMessageSize - kTextOffset;  // 255

using Message = std::array<unsigned char, kMessageSize>;

struct Request {
  std::uint8_t code = kCodeNothing;
  std::string text;
};

// Builds a record: code, length byte, the text cut to 255 characters, the rest zero.
Message EncodeRecord(std::uint8_t code, std::string_view text);

// Reads a record from the `received` bytes that arrived (at most 257 are looked at).
// The text is limited both by its length byte and by the bytes that actually
// arrived, so nothing beyond the message can leak into it. `received` must be >= 1.
Request DecodeRecord(const unsigned char* bytes, std::size_t received);

inline Message EncodeRequest(std::uint8_t code, std::string_view documentName) {
  return EncodeRecord(code, documentName);
}
inline Message EncodeReply(std::string_view fileName) {
  return EncodeRecord(kReplyFileName, fileName);
}

}  // namespace vz::driverlink
