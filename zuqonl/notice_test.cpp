#include "notice.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace zuqonl {
namespace {

std::vector<std::string> valuesOf(const Notice& notice, size_t count) {
  const auto* record = static_cast<const RowNotice*>(notice.record());
  std::vector<std::string> values;
  for (size_t i = 0; i < count; ++i) values.emplace_back(record->values[i]);
  return values;
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
}

}  // namespace
}  // namespace zuqonl
