#include "link_decoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace zuqonl {
namespace {

namespace protocol = dataserver::protocol;
using dataserver::EventKind;
using dataserver::TableEvent;
using Messages = std::vector<std::string>;

std::string frameOf(const protocol::Message& message) {
  std::string frame, err;
  EXPECT_TRUE(protocol::encode(message, &frame, &err)) << err;
  return frame;
}

std::string rowFrame(uint32_t subId, int32_t rowId, const std::vector<std::string>& values) {
  TableEvent event;
  event.kind = EventKind::AddRow;
  event.rowId = rowId;
  event.values = values;
  return frameOf(protocol::Event{subId, event});
}

std::string eventFrame(uint32_t subId, EventKind kind, const std::string& text = "") {
  TableEvent event;
  event.kind = kind;
  event.text = text;
  return frameOf(protocol::Event{subId, event});
}

// One decoded item as a short line: "row 3/7 a|b" (subscription 3, row 7),
// "event 3 error text", "welcome", "fault ...".
std::string describe(const LinkDecoder::Decoded& decoded) {
  if (!decoded.fault.empty()) return "fault " + decoded.fault;
  if (!decoded.end.empty()) return "end " + decoded.end;
  if (const RowNotice* record = decoded.record) {
    std::string out =
        "row " + std::to_string(decoded.subId) + "/" + std::to_string(record->rowID) + " ";
    if (record->conn != static_cast<int32_t>(decoded.subId)) out += "(conn differs) ";
    if (decoded.kind != EventKind::AddRow) out += "(not an AddRow) ";
    for (size_t i = 0; i < ZUQONL_ROW_VALUES && record->values[i] != nullptr; ++i) {
      (out += i > 0 ? "|" : "") += record->values[i];
    }
    return out;
  }
  if (const auto* event = std::get_if<protocol::Event>(&decoded.message)) {
    return "event " + std::to_string(event->subId) + " " +
           std::to_string(static_cast<int>(event->event.kind)) + " " + event->event.text;
  }
  if (std::holds_alternative<protocol::Welcome>(decoded.message)) return "welcome";
  return "other";
}

class LinkDecoderTest : public ::testing::TestWithParam<bool> {
 protected:
  // Feeds `bytes` in reads of `piece` bytes, taking what is decoded after
  // each read and waiting for room as a client would.
  void feedInPieces(const std::string& bytes, size_t piece) {
    for (size_t at = 0; at < bytes.size(); at += piece) {
      waitForRoom();
      const size_t size = std::min(piece, bytes.size() - at);
      decoder_.feed(bytes.data() + at, size);
      take();
    }
  }

  void waitForRoom() {
    for (int tries = 0; tries < 1000 && !decoder_.hasRoom(); ++tries) {
      take();
      waitForReady();
    }
  }

  // Takes every item decoded so far.
  void take() {
    while (const LinkDecoder::Decoded* decoded = decoder_.next())
      taken_.push_back(describe(*decoded));
  }

  // Takes items until `count` are taken, or nothing more comes within
  // `looks` waits of 20 ms.
  Messages takeUpTo(size_t count, int looks = 1000) {
    for (int tries = 0; tries < looks && taken_.size() < count; ++tries) {
      take();
      if (taken_.size() < count) waitForReady();
    }
    return taken_;
  }

  void waitForReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(20), [&] { return readies_ > seen_; });
    seen_ = readies_;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  int readies_ = 0;
  int seen_ = 0;
  LinkDecoder decoder_{[this] {
                         std::lock_guard<std::mutex> lock(mutex_);
                         ++readies_;
                         changed_.notify_all();
                       },
                       GetParam()};
  Messages taken_;
};

// Whatever the reads' sizes, the messages come in order, each whole: rows
// as records of their subscription, other messages as they are; many rows
// fill batch after batch, and a row larger than a batch comes in one of its
// own.
TEST_P(LinkDecoderTest, MessagesInOrderWhateverTheReads) {
  std::string bytes = frameOf(protocol::Welcome{protocol::kVersion, "zuqds"});
  Messages expected = {"welcome"};
  const std::string large(LinkDecoder::kBatchBytes + 100, 'x');
  for (int row = 1; row <= 3000; ++row) {
    const std::string value = row == 1500 ? large : "v" + std::to_string(row);
    bytes += rowFrame(3, row, {value, "", "w"});
    expected.push_back("row 3/" + std::to_string(row) + " " + value + "||w");
  }
  bytes += eventFrame(3, EventKind::Error, "bad thing");
  expected.push_back("event 3 " + std::to_string(static_cast<int>(EventKind::Error)) +
                     " bad thing");
  for (size_t piece : {size_t{1}, size_t{7}, LinkDecoder::kChunkBytes}) {
    if (piece == 1 && !GetParam()) continue;  // byte by byte once is enough
    SCOPED_TRACE("reads of " + std::to_string(piece) + " bytes");
    taken_.clear();
    decoder_.startLink();
    feedInPieces(piece == 1 ? bytes.substr(0, 2000) : bytes, piece);
    if (piece == 1) {
      // The rows whose frames were fed whole, and nothing of the cut one.
      const Messages got = takeUpTo(expected.size(), 10);
      ASSERT_GE(got.size(), 2u);
      EXPECT_EQ(got, Messages(expected.begin(), expected.begin() + got.size()));
      continue;
    }
    EXPECT_EQ(takeUpTo(expected.size()), expected);
  }
}

// A malformed frame is the last thing of its link; a new link is decoded
// afresh, without the cut frame the old one ended with.
TEST_P(LinkDecoderTest, AMalformedFrameEndsTheLinkAndANewLinkStartsAfresh) {
  std::string bytes = rowFrame(1, 1, {"a"});
  bytes += std::string("\x05\x00\x00\x00\x7f", 5) + "xxxxx";  // an unknown message type
  bytes += rowFrame(1, 2, {"b"});
  feedInPieces(bytes, 1000);
  const Messages got = takeUpTo(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], "row 1/1 a");
  EXPECT_TRUE(got[1].starts_with("fault unknown message type 0x7f")) << got[1];
  EXPECT_EQ(takeUpTo(3, 10).size(), 2u);

  const std::string cut = rowFrame(1, 3, {"c"});
  taken_.clear();
  decoder_.startLink();
  feedInPieces(cut.substr(0, cut.size() - 1), 1000);
  decoder_.startLink();
  feedInPieces(rowFrame(2, 4, {"d"}), 1000);
  EXPECT_EQ(takeUpTo(1), (Messages{"row 2/4 d"}));
}

// The link's end comes after every message of the bytes fed before it,
// however many are still to be decoded; a new link forgets an end not yet
// taken.
TEST_P(LinkDecoderTest, TheEndOfALinkComesAfterItsMessages) {
  std::string bytes;
  Messages expected;
  for (int row = 1; row <= 2000; ++row) {
    bytes += rowFrame(1, row, {"r"});
    expected.push_back("row 1/" + std::to_string(row) + " r");
  }
  bytes += rowFrame(1, 2001, {"cut"}).substr(0, 9);
  decoder_.feed(bytes.data(), std::min(bytes.size(), LinkDecoder::kChunkBytes));
  decoder_.end("link closed by the server");
  expected.push_back("end link closed by the server");
  EXPECT_EQ(takeUpTo(expected.size()), expected);

  taken_.clear();
  decoder_.end("link lost");
  decoder_.startLink();
  feedInPieces(rowFrame(2, 1, {"new"}), 1000);
  EXPECT_EQ(takeUpTo(2, 10), (Messages{"row 2/1 new"}));
}

INSTANTIATE_TEST_SUITE_P(OnAThreadOrInline, LinkDecoderTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "OwnThread" : "Inline";
                         });

}  // namespace
}  // namespace zuqonl
