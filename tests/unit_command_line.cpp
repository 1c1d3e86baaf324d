#include <gtest/gtest.h>

#include "app/command_line.h"

TEST(ModeFor, ChoosesByArgumentCount) {
    const run_mode expected[] = {no_mode, no_mode, filter_mode, marker_mode, no_mode, statistics_mode, no_mode, no_mode};
    for (int count = 0; count < 8; count++) EXPECT_EQ(mode_for(count), expected[count]) << count << " arguments";
}

TEST(ReadOffset, ReadsLikeTheTableSays) {
    struct Case {
        const char* text;
        int64_t value;
    } cases[] = {
        {"0", 0}, {"128", 128}, {"129", 129}, {"-1", -1}, {"+7", 7}, {" 12x", 12}, {"abc", 0}, {"", 0},
        {"\t\n\v\f\r 5", 5}, {"-0", 0}, {"+-3", 0}, {"007", 7}, {"1 2", 1}, {"2147483647", 2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(read_offset(c.text), c.value) << '"' << c.text << '"';
}

TEST(ReadOffset, OverflowStaysOutOfRangeInsteadOfWrapping) {
    // 4294967296 + 5 would wrap to 5 in 32-bit arithmetic.
    const char* huge[] = {"4294967301", "2147483648", "99999999999999999999999999", "4294967424"};
    for (const char* text : huge) EXPECT_GT(read_offset(text), 2147483647) << text;
    EXPECT_LT(read_offset("-4294967301"), -2147483647);
}
