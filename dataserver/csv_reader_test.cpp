#include "dataserver/csv_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/error_text.h"
#include "testsupport/temp_dir.h"

namespace dataserver {
namespace {

using namespace std::string_literals;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

constexpr CsvLimits kLimits{64 * 1024, 1024 * 1024, 4 * 1024 * 1024, 1024};

// Everything a reader makes of `bytes`: one entry per record, "<line>:" then
// the fields joined by '|', and the fault message, or what a cut last
// record would be, if any, last.
std::vector<std::string> parse(const std::string& bytes, const CsvLimits& limits = kLimits) {
  File file(testsupport::openScratchFile());
  EXPECT_TRUE(file);
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::rewind(file.get());
  CsvReader reader(file.get(), "t.csv", limits);
  std::vector<std::string> out;
  for (;;) {
    bool haveRecord = false;
    std::string err;
    if (!reader.read(&haveRecord, &err)) {
      out.push_back("fault " + err);
      return out;
    }
    if (!haveRecord) {
      if (reader.cut()) out.push_back("cut " + reader.cutFault());
      return out;
    }
    std::string record = std::to_string(reader.recordLine()) + ":";
    for (size_t i = 0; i < reader.fields().size(); ++i) {
      record += i > 0 ? "|" : "";
      record += reader.fields()[i];
    }
    out.push_back(record);
  }
}

using Records = std::vector<std::string>;

TEST(CsvReaderTest, RecordEndsAndVerbatimBytes) {
  EXPECT_EQ(parse("a,b\nc,d\n"), (Records{"1:a|b", "2:c|d"}));
  EXPECT_EQ(parse("a,b\r\nc,d\r\n"), (Records{"1:a|b", "2:c|d"}));
  EXPECT_EQ(parse("a,b\r\nc,d"), (Records{"1:a|b", "cut t.csv:2: the last line has no line end"}));
  EXPECT_EQ(parse(" a , b\t\n"), (Records{"1: a | b\t"}));
  EXPECT_EQ(parse("a\rb,c\r\r\n"), (Records{"1:a\rb|c\r"}));  // a lone CR is data
  EXPECT_EQ(parse("a\r"), (Records{"cut t.csv:1: the last line has no line end"}));
  EXPECT_EQ(parse("x\"y\",z\n"), (Records{"1:x\"y\"|z"}));  // quotes mid-field are data
  EXPECT_EQ(parse("\xef\xbb\xbf\xff,\x80\n"), (Records{"1:\xef\xbb\xbf\xff|\x80"}));
}

TEST(CsvReaderTest, QuotedFields) {
  EXPECT_EQ(parse("\"a,b\",\"c\r\nd\",\"e\nf\"\n"), (Records{"1:a,b|c\r\nd|e\nf"}));
  EXPECT_EQ(parse("\"say \"\"hi\"\"\",\"\"\"\"\n"), (Records{"1:say \"hi\"|\""}));
  EXPECT_EQ(parse("\"\",x,\"\"\r\n"), (Records{"1:|x|"}));
  EXPECT_EQ(parse("\"end\"\n"), (Records{"1:end"}));
  EXPECT_EQ(parse("\"end\""), (Records{"cut t.csv:1: the last line has no line end"}));
}

TEST(CsvReaderTest, EmptyLinesAndEndOfFile) {
  EXPECT_EQ(parse(""), Records{});
  EXPECT_EQ(parse("\n"), (Records{"1:"}));
  EXPECT_EQ(parse("a\n\nb\n"), (Records{"1:a", "2:", "3:b"}));
  EXPECT_EQ(parse("a\n\n"), (Records{"1:a", "2:"}));
  EXPECT_EQ(parse("a,\n,\n"), (Records{"1:a|", "2:|"}));
  EXPECT_EQ(parse("a,b,\n"), (Records{"1:a|b|"}));
  EXPECT_EQ(parse("a\nb,"), (Records{"1:a", "cut t.csv:2: the last line has no line end"}));
}

TEST(CsvReaderTest, RecordLineCountsLinesInsideQuotes) {
  EXPECT_EQ(parse("h\n\"1\n2\r\n3\"\nx\r\n\"\"\n"), (Records{"1:h", "2:1\n2\r\n3", "5:x", "6:"}));
}

TEST(CsvReaderTest, Faults) {
  EXPECT_EQ(parse("a,b\nc,\"d\n\ne"), (Records{"1:a|b", "cut t.csv:2: unterminated quoted field"}));
  EXPECT_EQ(parse("a\n\"x\"y\n"), (Records{"1:a", "fault t.csv:2: text after a closing quote"}));
  EXPECT_EQ(parse("\"x\"\ry\n"), (Records{"fault t.csv:1: text after a closing quote"}));
  EXPECT_EQ(parse("a\nb\n\"c\nd\0\"\n"s), (Records{"1:a", "2:b", "fault t.csv:4: NUL byte"}));
  EXPECT_EQ(parse("a\nb\0c\n"s), (Records{"1:a", "fault t.csv:2: NUL byte"}));
}

TEST(CsvReaderTest, SizeLimits) {
  const CsvLimits small{4, 5, 8, 3};
  EXPECT_EQ(parse("12345,123\n\"12\"\"45\"\n", small), (Records{"1:12345|123", "2:12\"45"}));
  EXPECT_EQ(parse("a\n123456\n", small),
            (Records{"1:a", "fault t.csv:2: field longer than 5 bytes"}));
  EXPECT_EQ(parse("\"1\n2\"\"\"\"3\"\n", small),
            (Records{"fault t.csv:1: field longer than 5 bytes"}));
  EXPECT_EQ(parse("12345,1234\n", small), (Records{"fault t.csv:1: record longer than 8 bytes"}));
  EXPECT_EQ(parse("a,b,c\n,,,\n", small),
            (Records{"1:a|b|c", "fault t.csv:2: record has more than 3 fields"}));
  // Records that lie wholly in the read buffer are checked alike.
  const CsvLimits wideBuffer{64 * 1024, 5, 8, 3};
  EXPECT_EQ(parse("12345,123\r\n1,2,3\n", wideBuffer), (Records{"1:12345|123", "2:1|2|3"}));
  EXPECT_EQ(parse("a\r\n123456\r\n", wideBuffer),
            (Records{"1:a", "fault t.csv:2: field longer than 5 bytes"}));
  EXPECT_EQ(parse("12345,1234\r\n", wideBuffer),
            (Records{"fault t.csv:1: record longer than 8 bytes"}));
  EXPECT_EQ(parse("a,b,c\r\n,,,\r\n", wideBuffer),
            (Records{"1:a|b|c", "fault t.csv:2: record has more than 3 fields"}));
  EXPECT_EQ(parse(std::string(1024 * 1024, 'x') + "\n").size(), 1u);
  EXPECT_EQ(parse(std::string(1024 * 1024 + 1, 'x') + "\n"),
            (Records{"fault t.csv:1: field longer than 1048576 bytes"}));
}

TEST(CsvReaderTest, FaultIsSticky) {
  File file(testsupport::openScratchFile());
  std::fwrite("a\0\n", 1, 3, file.get());
  std::rewind(file.get());
  CsvReader reader(file.get(), "t.csv", kLimits);
  bool haveRecord = true;
  std::string err;
  EXPECT_FALSE(reader.read(&haveRecord, &err));
  EXPECT_FALSE(haveRecord);
  err.clear();
  EXPECT_FALSE(reader.read(&haveRecord, &err));
  EXPECT_EQ(err, "t.csv:1: NUL byte");
}

// A file read while it is written: a cut record is read again from its
// start once the file has grown, whatever the read buffer held of it.
TEST(CsvReaderTest, ACutRecordIsReadAgainOnceTheFileHasGrown) {
  for (size_t bufferBytes : {2, 5, 64 * 1024}) {
    SCOPED_TRACE(bufferBytes);
    File file(testsupport::openScratchFile());
    ASSERT_TRUE(file);
    std::fputs("h,v\n1,101.", file.get());
    std::fflush(file.get());
    std::rewind(file.get());
    CsvReader reader(file.get(), "t.csv", {bufferBytes, 100, 200, 8});
    bool haveRecord = false;
    std::string err;
    ASSERT_TRUE(reader.read(&haveRecord, &err));
    ASSERT_TRUE(haveRecord);
    ASSERT_TRUE(reader.read(&haveRecord, &err));
    EXPECT_FALSE(haveRecord);
    EXPECT_TRUE(reader.cut());
    EXPECT_EQ(reader.endOffset(), 10u);
    EXPECT_EQ(reader.cutFault(), "t.csv:2: the last line has no line end");
    std::fseek(file.get(), 0, SEEK_END);
    std::fputs("25,\"x\ny", file.get());  // still cut, now inside quotes
    std::fflush(file.get());
    ASSERT_TRUE(reader.resume(&err)) << err;
    ASSERT_TRUE(reader.read(&haveRecord, &err));
    EXPECT_FALSE(haveRecord);
    EXPECT_EQ(reader.cutFault(), "t.csv:2: unterminated quoted field");
    std::fseek(file.get(), 0, SEEK_END);
    std::fputs("\"\r\n2,z\n", file.get());
    std::fflush(file.get());
    ASSERT_TRUE(reader.resume(&err)) << err;
    std::vector<std::string> records;
    while (reader.read(&haveRecord, &err) && haveRecord) {
      std::string record = std::to_string(reader.recordLine()) + ":";
      for (std::string_view field : reader.fields()) record += std::string(field) + "|";
      records.push_back(record);
    }
    EXPECT_EQ(records, (Records{"2:1|101.25|x\ny|", "4:2|z|"}));
    EXPECT_FALSE(reader.cut());
  }
}

TEST(CsvReaderTest, ReadErrorIsAFault) {
  File dir(std::fopen(".", "rb"));
  if (!dir) GTEST_SKIP() << "this system does not open folders as files";
  CsvReader reader(dir.get(), "t.csv", kLimits);
  bool haveRecord = false;
  std::string err;
  EXPECT_FALSE(reader.read(&haveRecord, &err));
  EXPECT_NE(reader.readErrno(), 0);
  EXPECT_EQ(err, "t.csv:1: read failed: " + platform::errnoText(reader.readErrno()));
}

// The reader looks for field ends many bytes at a time; a separator, CR, NUL
// or quote must be found at whatever offset it falls, among bytes that differ
// from it in one bit only. Reads of a few bytes find them one byte at a time.
TEST(CsvReaderTest, StopsAreFoundAtEveryOffset) {
  const std::string data =
      "\x80\xac\x8a\x8d\xff+-\x0b\x0c\x01\x2d\x2e\x0e\x09\x7f\"\xa2"
      "ab";
  const std::string stops[] = {",", "\n", "\r\n", "\r", "\0"s, ",\"q\"", ",\"\"\"\"", "\"x"};
  for (const std::string& stop : stops) {
    for (size_t at = 0; at <= 2 * data.size() + 3; ++at) {
      std::string line;
      while (line.size() < at) line += data[line.size() % data.size()];
      const std::string input = line + stop + data + data + "\n" + data + ",\n";
      const Records whole = parse(input);
      for (size_t bufferBytes : {1, 3, 17, 31}) {
        EXPECT_EQ(parse(input, {bufferBytes, 1024, 4096, 64}), whole)
            << "buffer " << bufferBytes << " stop at " << at << " input " << input;
      }
      if (stop == ",") {
        EXPECT_EQ(whole, (Records{"1:" + line + "|" + data + data, "2:" + data + "|"}));
      } else if (stop == "\r") {
        EXPECT_EQ(whole, (Records{"1:" + line + "\r" + data + data, "2:" + data + "|"}));
      } else if (stop == "\0"s) {
        EXPECT_EQ(whole, (Records{"fault t.csv:1: NUL byte"}));
      }
    }
  }
  EXPECT_EQ(parse("a\n", {64 * 1024, 5, 8, 0}),
            (Records{"fault t.csv:1: record has more than 0 fields"}));
}

// Every record, field and fault must come out the same however the reads
// happen to cut the file, since a cut can fall between any two bytes.
TEST(CsvReaderTest, ReadBufferSizeDoesNotMatter) {
  const std::string inputs[] = {
      "id,name,note\r\n1,\"a,b\",\"x\"\"y\"\r\n2,,\"multi\r\nline\"\n3,\r,z\r",
      "\"\"\"\"\"\",\"\",\n\n\"q\"\r\n",
      "a,b\n1,\"unterminated\n",
      "a\n\"b\"c\n",
      "a\r\n\r\nb\r\n\0\n"s,
      "12345,1234\n",
      std::string(100, 'y') + ",\"" + std::string(70, '"') + "\"\n",
      "a\n" + std::string(101, 'y') + "\n",
  };
  for (const std::string& input : inputs) {
    const Records whole = parse(input, {64 * 1024, 100, 200, 8});
    for (size_t bufferBytes = 1; bufferBytes <= 9; ++bufferBytes) {
      EXPECT_EQ(parse(input, {bufferBytes, 100, 200, 8}), whole)
          << "buffer " << bufferBytes << " input " << input;
    }
  }
}

}  // namespace
}  // namespace dataserver
