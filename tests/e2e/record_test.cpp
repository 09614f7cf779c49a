// The fixtures' line format read back: escapes undone, kinds and fields apart, numbers read.

#include <gtest/gtest.h>

#include "tests/e2e/record.h"

namespace lumoradex::e2e {
namespace {

TEST(Record, FieldsAreSplitAtTabsAndUnescaped) {
    const Record record = ParseRecord("start\tpid=12\tcommand_line=\"C:\\a b\\Velmor.exe\" 100%25%09x%0Ay\tshow=2\r");
    EXPECT_EQ(record.kind, "start");
    EXPECT_EQ(record.Get("command_line"), "\"C:\\a b\\Velmor.exe\" 100%\tx\ny");
    EXPECT_EQ(record.Number("pid"), 12);
    EXPECT_EQ(record.Get("show"), "2") << "a CR before the line feed is no part of the last value";
}

TEST(Record, ValuesMayHoldEqualSignsAndBeEmpty) {
    const Record record = ParseRecord("control\ttext=a=b\ttitle=\tstyle=0x50000880");
    EXPECT_EQ(record.Get("text"), "a=b");
    EXPECT_EQ(record.Get("title"), "");
    EXPECT_EQ(record.Number("style"), 0x50000880);
}

TEST(Record, MissingOrMalformedFieldsThrow) {
    const Record record = ParseRecord("exit\tpid=x12");
    EXPECT_FALSE(record.Has("reason"));
    EXPECT_THROW(record.Get("reason"), std::out_of_range);
    EXPECT_THROW(record.Number("pid"), std::invalid_argument);
}

TEST(Record, EveryNonEmptyLineIsARecordAndTheLastNeedsNoLineFeed) {
    const std::vector<Record> records = ParseRecords("start\tpid=1\n\nclose\tpid=1\r\nexit\tpid=1");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(RecordsOfKind(records, "close").size(), 1u);
    EXPECT_EQ(records[2].kind, "exit");
}

} // namespace
} // namespace lumoradex::e2e
