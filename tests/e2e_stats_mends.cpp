// Statistics mode end to end where it can go wrong: reports that cannot be
// created or written, reports that would land on the run's own files, an
// empty window and channels that sum to zero.
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

// A recording with one event-free frame that is not kept and two trailing
// bytes; with offsets 1 1 the event at kept index 2 qualifies.
const std::vector<unsigned> RECORDING = {0x7FFF0010, 0x00640001, 0x00C80001, 0x012C0011, 0xFF380001};
const std::vector<unsigned> KEPT = {0x00640001, 0x00C80001, 0x012C0011, 0xFF380001};
const std::vector<unsigned> MARKERS = {0x00640000, 0x00C80000, 0x012C3FFF, 0xFF380000};
const char* const TABLE =
    "  0           1        200  |    1     1  |    5    66              ######      \r\n"
    "  1          17        300  |    1     1  |  100   100  ##########  ##########  \r\n";
// Peak 300: scale is the float 106.66666412..., so 300 gives 31999.
const std::vector<unsigned> WAVEFORM = {(21333u << 16) | 106u, (31999u << 16) | 1813u};

std::string recording_bytes() { return frame_bytes(RECORDING) + "\x01\x02"; }

const std::vector<std::string> STATISTICS = {"rec.raw", "kept.raw", "marks.raw", "1", "1"};

class StatsRun : public ::testing::Test {
protected:
    temp_dir dir;

    void SetUp() override { write_file(dir.file("rec.raw"), recording_bytes()); }

    tool_run run(const std::vector<std::string>& arguments = STATISTICS) {
        tool_run result = run_tool(dir.path, arguments);
        EXPECT_EQ(result.errors, "");
        EXPECT_EQ(result.exit_status, 0);
        return result;
    }

    void expect_streams_complete() {
        EXPECT_EQ(read_file(dir.file("kept.raw")), frame_bytes(KEPT));
        EXPECT_EQ(read_file(dir.file("marks.raw")), frame_bytes(MARKERS));
    }

    void symlink_to(const std::string& target, const std::string& name) {
        ASSERT_EQ(symlink(target.c_str(), dir.file(name).c_str()), 0);
    }
};

TEST_F(StatsRun, WritesBothReports) {
    tool_run result = run();
    EXPECT_EQ(result.output, written(4));
    expect_streams_complete();
    EXPECT_EQ(read_file(dir.file("stat.txt")), TABLE);
    EXPECT_EQ(read_file(dir.file("stat.pcm")), frame_bytes(WAVEFORM));
}

enum report_fault { is_a_directory, is_dev_full };

struct report_case {
    const char* name;
    const char* report;
    report_fault fault;
};

void PrintTo(const report_case& c, std::ostream* os) { *os << c.name; }

class ReportFailure : public StatsRun, public ::testing::WithParamInterface<report_case> {};

// A directory of the report's name cannot be opened for writing, even by
// root; /dev/full opens but takes no byte. stat.txt is written first: when
// it fails, stat.pcm is not made.
TEST_P(ReportFailure, IsShownAndTheRunStops) {
    const report_case& c = GetParam();
    std::string report = c.report;
    if (c.fault == is_a_directory) {
        ASSERT_EQ(mkdir(dir.file(report).c_str(), 0755), 0);
    } else {
        if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
        symlink_to("/dev/full", report);
    }
    tool_run result = run();
    EXPECT_EQ(result.output, c.fault == is_a_directory ? not_opened(report) : not_written(report));
    expect_streams_complete();
    if (report == "stat.pcm") {
        EXPECT_EQ(read_file(dir.file("stat.txt")), TABLE);
    } else {
        EXPECT_FALSE(file_exists(dir.file("stat.pcm")));
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, ReportFailure,
                         ::testing::Values(report_case{"txt_directory", "stat.txt", is_a_directory},
                                           report_case{"pcm_directory", "stat.pcm", is_a_directory},
                                           report_case{"txt_full", "stat.txt", is_dev_full},
                                           report_case{"pcm_full", "stat.pcm", is_dev_full}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatsRun, MarkerStreamThatCannotBeWritten) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    tool_run marker = run({"rec.raw", "kept.raw", "/dev/full"});
    EXPECT_EQ(marker.output, not_written("/dev/full"));
    EXPECT_EQ(read_file(dir.file("kept.raw")), frame_bytes(KEPT));

    tool_run statistics = run({"rec.raw", "kept.raw", "/dev/full", "1", "1"});
    EXPECT_EQ(statistics.output, not_written("/dev/full"));
    EXPECT_EQ(read_file(dir.file("kept.raw")), frame_bytes(KEPT));
    EXPECT_FALSE(file_exists(dir.file("stat.txt")));
    EXPECT_FALSE(file_exists(dir.file("stat.pcm")));
}

// Running the tool on a report of an earlier run, from the same directory.
TEST_F(StatsRun, EarlierReportAsInputKeepsItsBytes) {
    run();
    std::string earlier_waveform = read_file(dir.file("stat.pcm"));
    ASSERT_EQ(earlier_waveform, frame_bytes(WAVEFORM));
    tool_run again = run({"./stat.pcm", "kept2.raw", "marks2.raw", "0", "1"});
    EXPECT_EQ(again.output, not_opened("stat.pcm"));
    EXPECT_EQ(read_file(dir.file("stat.pcm")), earlier_waveform);

    std::string earlier_table = read_file(dir.file("stat.txt"));
    tool_run table_input = run({"stat.txt", "kept3.raw", "marks3.raw", "0", "1"});
    EXPECT_EQ(table_input.output, not_opened("stat.txt"));
    EXPECT_EQ(read_file(dir.file("stat.txt")), earlier_table);
    EXPECT_EQ(read_file(dir.file("stat.pcm")), earlier_waveform);
}

enum link_kind { same_path, hard_link, symbolic_link };

struct clash_case {
    const char* name;
    const char* report;
    const char* run_file;  // FILE_IN, FILE_OUT or FILE_OBN of the run
    link_kind link;
};

void PrintTo(const clash_case& c, std::ostream* os) { *os << c.name; }

class ReportClash : public StatsRun, public ::testing::WithParamInterface<clash_case> {};

// A report that is the same file as the input or an output of the run is
// refused like one that cannot be created; that file keeps every byte.
TEST_P(ReportClash, IsRefusedAndTheFileKeepsItsBytes) {
    const clash_case& c = GetParam();
    std::string report = c.report, run_file = c.run_file;
    std::vector<std::string> arguments = STATISTICS;
    if (c.link == same_path) {
        write_file(dir.file(report), recording_bytes());
        arguments[0] = run_file;  // another spelling of the report as FILE_IN
    } else {
        if (!file_exists(dir.file(run_file))) write_file(dir.file(run_file), "earlier bytes");
        if (c.link == hard_link) {
            ASSERT_EQ(link(dir.file(run_file).c_str(), dir.file(report).c_str()), 0);
        } else {
            symlink_to(run_file, report);
        }
    }
    tool_run result = run(arguments);
    EXPECT_EQ(result.output, not_opened(report));
    expect_streams_complete();
    EXPECT_EQ(read_file(dir.file(report)), run_file == "kept.raw"    ? frame_bytes(KEPT)
                                           : run_file == "marks.raw" ? frame_bytes(MARKERS)
                                                                     : recording_bytes());
    if (report == "stat.pcm") {
        EXPECT_EQ(read_file(dir.file("stat.txt")), TABLE);
    } else {
        EXPECT_FALSE(file_exists(dir.file("stat.pcm")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, ReportClash,
    ::testing::Values(clash_case{"pcm_is_input", "stat.pcm", "stat.pcm", same_path},
                      clash_case{"pcm_is_input_dot_slash", "stat.pcm", "./stat.pcm", same_path},
                      clash_case{"txt_is_input", "stat.txt", "stat.txt", same_path},
                      clash_case{"pcm_hard_link_to_input", "stat.pcm", "rec.raw", hard_link},
                      clash_case{"txt_symlink_to_input", "stat.txt", "rec.raw", symbolic_link},
                      clash_case{"txt_hard_link_to_out", "stat.txt", "kept.raw", hard_link},
                      clash_case{"pcm_hard_link_to_out", "stat.pcm", "kept.raw", hard_link},
                      clash_case{"txt_symlink_to_obn", "stat.txt", "marks.raw", symbolic_link},
                      clash_case{"pcm_symlink_to_obn", "stat.pcm", "marks.raw", symbolic_link}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatsRun, EmptyWindowCreatesEmptyReports) {
    write_file(dir.file("stat.txt"), "an earlier table");
    write_file(dir.file("stat.pcm"), "an earlier waveform");
    tool_run result = run({"rec.raw", "kept.raw", "marks.raw", "0", "0"});
    EXPECT_EQ(result.output, written(4));
    expect_streams_complete();
    EXPECT_TRUE(file_exists(dir.file("stat.txt")));
    EXPECT_TRUE(file_exists(dir.file("stat.pcm")));
    EXPECT_EQ(read_file(dir.file("stat.txt")), "");
    EXPECT_EQ(read_file(dir.file("stat.pcm")), "");
}

struct zero_case {
    const char* name;
    std::vector<unsigned> frames;
    std::vector<std::string> offsets;
    std::string table;
    std::vector<unsigned> waveform;
};

void PrintTo(const zero_case& c, std::ostream* os) { *os << c.name; }

class ZeroMaximum : public StatsRun, public ::testing::WithParamInterface<zero_case> {};

// A channel that sums to 0 at every position has percentages 0 and empty
// bars; with both at 0 the waveform is silence.
TEST_P(ZeroMaximum, GivesZeroPercentAndSilence) {
    const zero_case& c = GetParam();
    write_file(dir.file("rec.raw"), frame_bytes(c.frames));
    tool_run result = run({"rec.raw", "kept.raw", "marks.raw", c.offsets[0], c.offsets[1]});
    EXPECT_EQ(result.output, written(static_cast<long long>(c.frames.size())));
    EXPECT_EQ(read_file(dir.file("kept.raw")), frame_bytes(c.frames));
    EXPECT_EQ(read_file(dir.file("marks.raw")).size(), 4 * c.frames.size());
    EXPECT_EQ(read_file(dir.file("stat.txt")), c.table);
    EXPECT_EQ(read_file(dir.file("stat.pcm")), frame_bytes(c.waveform));
}

INSTANTIATE_TEST_SUITE_P(
    Channels, ZeroMaximum,
    ::testing::Values(
        // Window: the frame before each event. Channel 1 gives -1 and 1; the
        // -1 (0xFFFF) is an event itself, but at kept index 1 it does not qualify.
        zero_case{"channel_one",
                  {0x00000001, 0x00C8FFFF, 0x00000011, 0x00640001, 0x00000011},
                  {"1", "0"},
                  "  0           0        300  |    0     2  |    0   100              ##########  \r\n",
                  {31999u << 16}},
        // Channel 2 gives 5 and -5.
        zero_case{"channel_two",
                  {0x00000001, 0x00050001, 0x00000011, 0xFFFB000F, 0x00000011},
                  {"1", "0"},
                  "  0          16          0  |    2     0  |  100     0  ##########              \r\n",
                  {32000u}},
        // The only event is at kept index 0: nothing qualifies.
        zero_case{"no_qualifying_event",
                  {0x00000011, 0x00050001, 0x00000001},
                  {"1", "1"},
                  "  0           0          0  |    0     0  |    0     0                          \r\n"
                  "  1           0          0  |    0     0  |    0     0                          \r\n",
                  {0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
