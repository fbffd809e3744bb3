#include "notice.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace zuqonl {
namespace {

// The record's first `count` values; the rest must be null.
std::vector<std::string> valuesOf(const RowNotice* record, size_t count) {
  std::vector<std::string> values;
  for (size_t i = 0; i < ZUQONL_ROW_VALUES; ++i) {
    if (i < count) {
      values.emplace_back(record->values[i]);
    } else if (record->values[i] != nullptr) {
      values.emplace_back("value past the row");
    }
  }
  return values;
}

std::vector<std::string> valuesOf(const Notice& notice, size_t count) {
  return valuesOf(static_cast<const RowNotice*>(notice.record()), count);
}

// A row's values are copied whole and NUL-terminated, whether they view one
// line of a read buffer one after the other (copied at once) or lie apart;
// empty and absent values among them.
TEST(NoticeTest, RowValuesAreCopiedWhole) {
  const std::string line = "1,bb,,dddd,e\n";
  const std::string_view text = line;
  const std::vector<std::string_view> adjacent = {text.substr(0, 1), text.substr(2, 2),
                                                  text.substr(5, 0), text.substr(6, 4),
                                                  text.substr(11, 1)};
  const std::vector<std::string> expected = {"1", "bb", "", "dddd", "e"};
  EXPECT_EQ(valuesOf(Notice::row(ZUQONL_ADD_ROW, 1, 7, adjacent), 5), expected);

  const std::string joined = "1bbdddde";
  const std::string_view packed = joined;
  const std::vector<std::string_view> apart = {packed.substr(0, 1), packed.substr(1, 2),
                                               std::string_view(), packed.substr(3, 4),
                                               packed.substr(7, 1)};
  EXPECT_EQ(valuesOf(Notice::row(ZUQONL_ADD_ROW, 1, 8, apart), 5), expected);

  const std::vector<std::string_view> firstEmpty = {std::string_view(), text.substr(2, 2)};
  EXPECT_EQ(valuesOf(Notice::row(ZUQONL_ADD_ROW, 1, 9, firstEmpty), 2),
            (std::vector<std::string>{"", "bb"}));

  // Each after a length of four bytes, as a decoded Event holds them; a gap
  // too wide, or values out of order, are copied one by one.
  const std::string framed = "LLLL1LLLLbbLLLLLLLLLLLLLLLLLLLddddLLLLe";
  const std::string_view wire = framed;
  const std::vector<std::string_view> lengths = {wire.substr(4, 1), wire.substr(9, 2),
                                                 wire.substr(15, 0), wire.substr(30, 4),
                                                 wire.substr(38, 1)};
  EXPECT_EQ(valuesOf(Notice::row(ZUQONL_ADD_ROW, 1, 10, lengths), 5), expected);
  const std::vector<std::string_view> backwards = {text.substr(11, 1), text.substr(6, 4),
                                                   text.substr(2, 2)};
  EXPECT_EQ(valuesOf(Notice::row(ZUQONL_ADD_ROW, 1, 11, backwards), 3),
            (std::vector<std::string>{"e", "dddd", "bb"}));
}

// Records built ahead stay where they were built while more are added, each
// with its connection, row id and values; a full block takes no more, and a
// record larger than the block has a block of its own.
TEST(NoticeTest, RowRecordsBuiltAhead) {
  RowRecords records(1024);
  const std::string line = "1,bb,,dddd,e\n";
  const std::string_view text = line;
  const std::vector<std::string_view> row = {text.substr(0, 1), text.substr(2, 2),
                                             text.substr(5, 0), text.substr(6, 4)};
  std::vector<RowNotice*> built;
  size_t bytes = 0;
  while (RowNotice* record = records.add(3, static_cast<int32_t>(built.size()), row, &bytes)) {
    EXPECT_EQ(bytes % 8, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(record) % alignof(RowNotice), 0u);
    built.push_back(record);
  }
  ASSERT_GE(built.size(), 2u);
  EXPECT_LE(built.size() * bytes, 1024u);
  for (size_t i = 0; i < built.size(); ++i) {
    EXPECT_EQ(built[i]->conn, 3);
    EXPECT_EQ(built[i]->rowID, static_cast<int32_t>(i));
    EXPECT_EQ(valuesOf(built[i], 4), (std::vector<std::string>{"1", "bb", "", "dddd"}));
  }

  records.clear();
  const std::string large(4000, 'x');
  const std::vector<std::string_view> wide = {large, std::string_view()};
  RowNotice* alone = records.add(4, 1, wide, &bytes);
  ASSERT_NE(alone, nullptr);
  EXPECT_GE(bytes, sizeof(RowNotice) + large.size() + 2);
  EXPECT_EQ(valuesOf(alone, 2), (std::vector<std::string>{large, ""}));
  EXPECT_EQ(records.add(4, 2, row, &bytes), nullptr);
}

}  // namespace
}  // namespace zuqonl
