#pragma once
// Requests on the driver channel that could not be served: unknown codes and
// document ends with no document start before them. Counted from the monitor
// thread, reported on the GUI thread: the first one alone, everything that came
// while its box was up in one summary, so a flood never means a flood of boxes.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vz::driverlink {

class BadRequestLog {
 public:
  // Each counts one request. True when no report is waiting yet: the caller then
  // queues one, which calls Take when its box is about to be shown.
  bool AddUnknownCode(int code);
  bool AddUnmatchedDocEnd();

  // The text for everything counted since the last Take, which is forgotten; ""
  // when nothing was. One unknown request reads "Unknown incoming event
  // encountered:7"; several read "Unknown incoming event encountered: 3, 7, 115
  // and 250 other codes (9,994 requests)".
  std::string Take();

 private:
  bool Added();

  std::mutex mutex_;
  std::map<int, long> codes_;
  long unknownRequests_ = 0;
  long unmatchedEnds_ = 0;
  bool reportQueued_ = false;
};

// 9994 -> "9,994".
std::string GroupThousands(long value);

}  // namespace vz::driverlink
