#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <unistd.h>

#include "e2e_support.h"

// Reading the tool's own memory from offset 0 fails with an I/O error: a
// read error at the first read, before anything could be written.
TEST(LoadFailures, ReadErrorIsReportedAndNothingIsWritten) {
    temp_dir dir;
    tool_run run = run_tool(dir.path, {"/proc/self/mem", "out.raw", "obn.raw"});
    EXPECT_EQ(run.output, not_read("/proc/self/mem"));
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(file_exists(dir.file("out.raw")));
    EXPECT_EQ(read_file(dir.file("out.raw")), "");
    EXPECT_EQ(read_file(dir.file("obn.raw")), "");
}

// A sparse input of 1 TiB asks for more memory than the machine can give.
TEST(LoadFailures, NoMemoryNamesFileOut) {
    std::ifstream policy("/proc/sys/vm/overcommit_memory");
    int overcommit = 0;
    policy >> overcommit;
    if (overcommit == 1) GTEST_SKIP() << "this machine grants any allocation";
    temp_dir dir;
    int fd = open(dir.file("huge.raw").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, off_t{1} << 40) != 0) {
        close(fd);
        GTEST_SKIP() << "the file system holds no sparse file of 1 TiB";
    }
    close(fd);
    tool_run run = run_tool(dir.path, {"huge.raw", "out.raw", "obn.raw", "1", "1"});
    EXPECT_EQ(run.output, "\nнет памяти out.raw\n");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(read_file(dir.file("out.raw")), "");
    EXPECT_FALSE(file_exists(dir.file("stat.txt")));
}
