#include <gtest/gtest.h>

#include "e2e_support.h"

TEST(Smoke, FilterModeKeepsFlaggedFrames) {
    temp_dir dir;
    write_file(dir.file("in.raw"), frame_bytes({0xFFFF0001, 0x00000010, 0x12340003}) + "xy");
    tool_run run = run_tool(dir.path, {"in.raw", "out.raw"});
    EXPECT_EQ(run.output, written(2));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(dir.file("out.raw")), frame_bytes({0xFFFF0001, 0x12340003}));
}
