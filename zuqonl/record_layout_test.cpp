// The records' layout is what a program built against the vendor's header
// relies on: on the library's 32-bit platform every offset below is fixed,
// and wider platforms keep the field order.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "zuqonl.h"

static_assert(sizeof(DateTimeValue) == 16, "eight 16-bit fields");
static_assert(offsetof(DateTimeValue, dayOfWeek) == 4);
static_assert(offsetof(DateTimeValue, milliseconds) == 14);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(ErrorNotice, text) == 4);
static_assert(offsetof(FormatNotice, columnsCount) == 4);
static_assert(offsetof(FormatNotice, columnsFormat) == 8);
static_assert(offsetof(RowNotice, rowID) == 4);
static_assert(offsetof(RowNotice, values) == 8);
static_assert(offsetof(RowNotice, values[27]) == 116);
static_assert(sizeof(RowNotice) == 120);
#endif

TEST(RecordLayoutTest, FieldsKeepTheirOrderOnEveryPlatform) {
  EXPECT_LT(offsetof(ErrorNotice, conn), offsetof(ErrorNotice, text));
  EXPECT_LT(offsetof(FormatNotice, columnsCount), offsetof(FormatNotice, columnsFormat));
  EXPECT_LT(offsetof(RowNotice, rowID), offsetof(RowNotice, values));
  EXPECT_EQ(sizeof(RowNotice::values) / sizeof(RowNotice::values[0]), size_t{ZUQONL_ROW_VALUES});
}
