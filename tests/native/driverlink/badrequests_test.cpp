#include "driverlink/badrequests.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using vz::driverlink::BadRequestLog;

TEST(BadRequestLogTest, OneRequestReadsAsTheSingleErrorAndSeveralAsOneSummary) {
  BadRequestLog log;
  EXPECT_EQ(log.Take(), "");
  log.AddUnknownCode(7);
  EXPECT_EQ(log.Take(), "Unknown incoming event encountered:7");
  EXPECT_EQ(log.Take(), "");

  log.AddUnknownCode(7);
  log.AddUnknownCode(7);
  EXPECT_EQ(log.Take(), "Unknown incoming event encountered: 7 (2 requests)");

  for (int code : {250, 9, 9, 200}) log.AddUnknownCode(code);
  EXPECT_EQ(log.Take(), "Unknown incoming event encountered: 9, 200, 250 (4 requests)");

  // The three lowest codes are named, the rest counted.
  for (int i = 0; i < 9994; ++i) log.AddUnknownCode((i % 253) + 3);
  EXPECT_EQ(log.Take(), "Unknown incoming event encountered: 3, 4, 5 and 250 other codes (9,994 requests)");
  for (int code : {3, 4, 5, 6}) log.AddUnknownCode(code);
  EXPECT_EQ(log.Take(), "Unknown incoming event encountered: 3, 4, 5 and 1 other code (4 requests)");
}

TEST(BadRequestLogTest, DocumentEndsWithoutAStartAreReportedBesideUnknownCodes) {
  BadRequestLog log;
  log.AddUnmatchedDocEnd();
  EXPECT_EQ(log.Take(), "A document end came without a document start and was ignored");
  log.AddUnmatchedDocEnd();
  log.AddUnknownCode(115);
  log.AddUnmatchedDocEnd();
  EXPECT_EQ(log.Take(),
            "Unknown incoming event encountered:115\r"
            "A document end came without a document start and was ignored (2 requests)");
}

TEST(BadRequestLogTest, OnlyTheFirstRequestSinceTheLastTakeAsksForAReport) {
  BadRequestLog log;
  EXPECT_TRUE(log.AddUnknownCode(1));
  EXPECT_FALSE(log.AddUnknownCode(2));
  EXPECT_FALSE(log.AddUnmatchedDocEnd());
  log.Take();
  EXPECT_TRUE(log.AddUnmatchedDocEnd());
  EXPECT_FALSE(log.AddUnknownCode(3));
  // An empty take still clears the request, so the next problem is reported.
  log.Take();
  log.Take();
  EXPECT_TRUE(log.AddUnknownCode(4));
}

// How many requests a report text stands for: "(9,994 requests)" or one.
long RequestsIn(const std::string& text) {
  const auto open = text.find('(');
  if (open == std::string::npos) return 1;
  std::string digits;
  for (std::size_t i = open + 1; i < text.size() && text[i] != ' '; ++i)
    if (text[i] != ',') digits += text[i];
  return std::stol(digits);
}

// The monitor thread counts while the GUI thread takes: no request is lost or
// counted twice, and exactly one report is asked for per take that found one.
TEST(BadRequestLogTest, CountsFromOneThreadAndTakesFromAnotherAddUp) {
  BadRequestLog log;
  constexpr long kRequests = 200000;
  std::atomic<int> reportsAsked{0};
  std::atomic<bool> done{false};
  std::thread monitor([&] {
    for (long i = 0; i < kRequests; ++i)
      if (log.AddUnknownCode(7)) ++reportsAsked;
    done = true;
  });
  long reported = 0;
  int texts = 0;
  for (;;) {
    const bool finished = done.load();
    const std::string text = log.Take();
    if (!text.empty()) {
      ++texts;
      reported += RequestsIn(text);
    } else if (finished) {
      break;
    }
  }
  monitor.join();
  EXPECT_EQ(reported, kRequests);
  EXPECT_EQ(reportsAsked.load(), texts);
  EXPECT_GT(texts, 0);
}

TEST(BadRequestLogTest, ThousandsAreGrouped) {
  EXPECT_EQ(vz::driverlink::GroupThousands(0), "0");
  EXPECT_EQ(vz::driverlink::GroupThousands(999), "999");
  EXPECT_EQ(vz::driverlink::GroupThousands(1000), "1,000");
  EXPECT_EQ(vz::driverlink::GroupThousands(1234567), "1,234,567");
}

}  // namespace
