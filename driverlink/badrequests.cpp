#include "driverlink/badrequests.hpp"

namespace vz::driverlink {
namespace {

constexpr char kUnknownEvent[] = "Unknown incoming event encountered:";
constexpr char kUnmatchedEnd[] = "A document end came without a document start and was ignored";
// Codes named in a summary before the rest are only counted.
constexpr std::size_t kCodesNamed = 3;

std::string Requests(long count) {
  return " (" + GroupThousands(count) + (count == 1 ? " request)" : " requests)");
}

std::string UnknownCodesText(const std::map<int, long>& codes, long requests) {
  if (requests == 1) return kUnknownEvent + std::to_string(codes.begin()->first);
  std::string text = kUnknownEvent;
  std::size_t named = 0;
  for (auto it = codes.begin(); it != codes.end() && named < kCodesNamed; ++it, ++named)
    text += (named == 0 ? " " : ", ") + std::to_string(it->first);
  const std::size_t others = codes.size() - named;
  if (others > 0)
    text += " and " + GroupThousands(static_cast<long>(others)) +
            (others == 1 ? " other code" : " other codes");
  return text + Requests(requests);
}

}  // namespace

std::string GroupThousands(long value) {
  const std::string digits = std::to_string(value < 0 ? -value : value);
  std::string grouped = value < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

bool BadRequestLog::Added() {
  const bool first = !reportQueued_;
  reportQueued_ = true;
  return first;
}

bool BadRequestLog::AddUnknownCode(int code) {
  std::lock_guard lock(mutex_);
  ++codes_[code];
  ++unknownRequests_;
  return Added();
}

bool BadRequestLog::AddUnmatchedDocEnd() {
  std::lock_guard lock(mutex_);
  ++unmatchedEnds_;
  return Added();
}

std::string BadRequestLog::Take() {
  std::lock_guard lock(mutex_);
  std::string text;
  if (unknownRequests_ > 0) text = UnknownCodesText(codes_, unknownRequests_);
  if (unmatchedEnds_ > 0) {
    if (!text.empty()) text += "\r";
    text += kUnmatchedEnd;
    if (unmatchedEnds_ > 1) text += Requests(unmatchedEnds_);
  }
  codes_.clear();
  unknownRequests_ = 0;
  unmatchedEnds_ = 0;
  reportQueued_ = false;
  return text;
}

}  // namespace vz::driverlink
