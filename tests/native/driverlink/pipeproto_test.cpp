#include "driverlink/pipeproto.hpp"

#include <gtest/gtest.h>

#include <string>

namespace proto = vz::driverlink;

namespace {

TEST(PipeRecordTest, EncodeLaysOutCodeLengthAndText) {
  const proto::Message m = proto::EncodeRequest(proto::kCodeDocStart, "Letter.doc");
  EXPECT_EQ(m.size(), 257u);
  EXPECT_EQ(m[0], 1);
  EXPECT_EQ(m[1], 10);
  EXPECT_EQ(std::string(m.begin() + 2, m.begin() + 12), "Letter.doc");
  EXPECT_EQ(m[12], 0);
  const proto::Message reply = proto::EncodeReply("C:\\DEFAULT.APF");
  EXPECT_EQ(reply[0], 3);
  EXPECT_EQ(reply[1], 14);
}

TEST(PipeRecordTest, TextIsCutAt255) {
  const std::string name(300, 'n');
  const proto::Message m = proto::EncodeReply(name);
  EXPECT_EQ(m[1], 255);
  EXPECT_EQ(m[256], 'n');
  const proto::Request r = proto::DecodeRecord(m.data(), m.size());
  EXPECT_EQ(r.text, std::string(255, 'n'));
  // Exactly 255 fits whole.
  const proto::Message full = proto::EncodeRequest(1, std::string(255, 'x'));
  EXPECT_EQ(proto::DecodeRecord(full.data(), full.size()).text.size(), 255u);
}

TEST(PipeRecordTest, RoundTripKeepsEightBitCharacters) {
  const std::string text = "Caf\xe9 \xfc\x01\x7f";
  const proto::Message m = proto::EncodeRequest(proto::kCodeDocStart, text);
  const proto::Request r = proto::DecodeRecord(m.data(), m.size());
  EXPECT_EQ(r.code, proto::kCodeDocStart);
  EXPECT_EQ(r.text, text);
}

TEST(PipeRecordTest, ShortRequestUsesOnlyTheBytesThatArrived) {
  proto::Message m = proto::EncodeRequest(proto::kCodeDocStart, "stale bytes of an earlier request");
  m[1] = 200;  // claims more than will arrive
  const proto::Request r = proto::DecodeRecord(m.data(), 7);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.text, "stale");
  // Code only, or code and length only: no text at all.
  EXPECT_EQ(proto::DecodeRecord(m.data(), 1).text, "");
  EXPECT_EQ(proto::DecodeRecord(m.data(), 2).text, "");
  EXPECT_EQ(proto::DecodeRecord(m.data(), 2).code, 1);
}

TEST(PipeRecordTest, LengthByteBelowArrivedBytesWins) {
  proto::Message m = proto::EncodeRequest(proto::kCodeDocStart, "abcdef");
  m[1] = 3;
  EXPECT_EQ(proto::DecodeRecord(m.data(), m.size()).text, "abc");
  // More than one message's worth of bytes: only 257 are looked at.
  EXPECT_EQ(proto::DecodeRecord(m.data(), 100000).text, "abc");
}

}  // namespace
