// The run from the command line to the last message, driven through the
// built binary with no controlling terminal: modes, the order in which files
// are opened, what each failure leaves behind, offsets, paths in messages,
// unusual inputs and outputs, and the terminal encoding of the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e_support.h"

namespace {

// Three of these five frames have the keep bit; one has only the event bit.
const std::string INPUT = frame_bytes({0xFFFF0001, 0x00000010, 0x12340003, 0x00010011, 0x7FFF0000});
const std::string KEPT = frame_bytes({0xFFFF0001, 0x12340003, 0x00010011});
constexpr long long KEPT_COUNT = 3;

const std::string OFS_TO_RANGE = "ofs_to 0-128";
const std::string OFS_AFTER_RANGE = "ofs_after 0-128";

// Whatever happened, the run ends with status 0 and nothing on standard error.
void expect_clean_end(const tool_run& run) {
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.errors, "");
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// A temporary directory holding the input in.raw.
struct RunSequence : testing::Test {
    temp_dir dir;
    void SetUp() override { write_file(dir.file("in.raw"), INPUT); }
    tool_run run(const std::vector<std::string>& arguments) { return run_tool(dir.path, arguments); }
    // Every file the run created is empty and the input is untouched.
    void expect_created_empty(const std::vector<std::string>& created) {
        for (const std::string& name : created) EXPECT_EQ(read_file(dir.file(name)), "") << name;
        EXPECT_EQ(read_file(dir.file("in.raw")), INPUT);
    }
};

// ---------------------------------------------------------------- failures

struct failure_case {
    const char* label;
    std::vector<std::string> arguments;
    std::string output;
    std::vector<std::string> created;  // besides in.raw; all left empty
};

void PrintTo(const failure_case& c, std::ostream* out) { *out << c.label; }

struct Failures : RunSequence, testing::WithParamInterface<failure_case> {};

TEST_P(Failures, ShowOneMessageAndLeaveOnlyTheFilesOpenedBeforeTheFailure) {
    const failure_case& c = GetParam();
    tool_run result = run(c.arguments);
    expect_clean_end(result);
    EXPECT_EQ(result.output, c.output);
    std::vector<std::string> expected = c.created;
    expected.push_back("in.raw");
    EXPECT_EQ(directory_names(dir.path), sorted(expected));
    expect_created_empty(c.created);
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, Failures,
    testing::Values(
        failure_case{"no_arguments", {}, USAGE, {}},
        failure_case{"one_argument", {"in.raw"}, USAGE, {}},
        failure_case{"four_arguments", {"in.raw", "out.raw", "obn.raw", "1"}, USAGE, {}},
        failure_case{"six_arguments", {"in.raw", "out.raw", "obn.raw", "1", "2", "3"}, USAGE, {}},
        failure_case{"seven_arguments", {"in.raw", "out.raw", "obn.raw", "1", "2", "3", "4"}, USAGE, {}},
        failure_case{"missing_input_filter", {"missing.raw", "out.raw"}, not_opened("missing.raw"), {}},
        failure_case{"missing_input_marker", {"missing.raw", "out.raw", "obn.raw"}, not_opened("missing.raw"), {}},
        failure_case{"missing_input_before_offsets", {"missing.raw", "out.raw", "obn.raw", "999", "999"},
                     not_opened("missing.raw"), {}},
        failure_case{"input_is_a_directory", {".", "out.raw"}, not_opened("."), {}},
        failure_case{"input_is_the_root_directory", {"/", "out.raw", "obn.raw"}, not_opened("/"), {}},
        failure_case{"output_cannot_be_created", {"in.raw", "nodir/out.raw"}, not_opened("nodir/out.raw"), {}},
        failure_case{"output_cannot_be_created_marker", {"in.raw", "nodir/out.raw", "obn.raw"},
                     not_opened("nodir/out.raw"), {}},
        failure_case{"output_is_a_directory", {"in.raw", ".", "obn.raw", "1", "1"}, not_opened("."), {}},
        failure_case{"markers_cannot_be_created", {"in.raw", "out.raw", "nodir/obn.raw"},
                     not_opened("nodir/obn.raw"), {"out.raw"}},
        failure_case{"markers_cannot_be_created_before_offsets", {"in.raw", "out.raw", "nodir/obn.raw", "999", "0"},
                     not_opened("nodir/obn.raw"), {"out.raw"}},
        failure_case{"ofs_to_129", {"in.raw", "out.raw", "obn.raw", "129", "0"}, OFS_TO_RANGE, {"obn.raw", "out.raw"}},
        failure_case{"ofs_after_129", {"in.raw", "out.raw", "obn.raw", "0", "129"}, OFS_AFTER_RANGE,
                     {"obn.raw", "out.raw"}},
        failure_case{"both_offsets_out_of_range", {"in.raw", "out.raw", "obn.raw", "129", "-1"}, OFS_TO_RANGE,
                     {"obn.raw", "out.raw"}}),
    [](const testing::TestParamInfo<failure_case>& info) { return std::string(info.param.label); });

TEST_F(RunSequence, OutOfRangeOffsetsTruncateExistingOutputs) {
    write_file(dir.file("out.raw"), "old bytes");
    write_file(dir.file("obn.raw"), "old bytes");
    tool_run result = run({"in.raw", "out.raw", "obn.raw", "0", "200"});
    expect_clean_end(result);
    EXPECT_EQ(result.output, OFS_AFTER_RANGE);
    expect_created_empty({"out.raw", "obn.raw"});
}

// ---------------------------------------------------------------- offsets

struct offset_case {
    const char* label;
    std::string ofs_to, ofs_after;
    std::string rejection;  // the range message, or "" when the run goes on
    int window;             // ofs_to + ofs_after as read, when accepted
};

void PrintTo(const offset_case& c, std::ostream* out) { *out << c.label; }

struct Offsets : RunSequence, testing::WithParamInterface<offset_case> {};

// The window the run used shows in stat.pcm: one frame per position.
TEST_P(Offsets, AreReadAsDecimalAndCheckedAgainstTheirRange) {
    const offset_case& c = GetParam();
    tool_run result = run({"in.raw", "out.raw", "obn.raw", c.ofs_to, c.ofs_after});
    expect_clean_end(result);
    if (!c.rejection.empty()) {
        EXPECT_EQ(result.output, c.rejection);
        EXPECT_EQ(directory_names(dir.path), sorted({"in.raw", "obn.raw", "out.raw"}));
        expect_created_empty({"out.raw", "obn.raw"});
        return;
    }
    EXPECT_EQ(result.output, written(KEPT_COUNT));
    EXPECT_EQ(read_file(dir.file("out.raw")), KEPT);
    EXPECT_TRUE(file_exists(dir.file("stat.txt")));
    EXPECT_EQ(read_file(dir.file("stat.pcm")).size(), static_cast<size_t>(c.window) * 4);
}

INSTANTIATE_TEST_SUITE_P(
    OffsetReading, Offsets,
    testing::Values(
        offset_case{"zero_and_zero", "0", "0", "", 0},
        offset_case{"zero_and_limit", "0", "128", "", 128},
        offset_case{"limit_and_limit", "128", "128", "", 256},
        offset_case{"plus_sign", "+7", "3", "", 10},
        offset_case{"leading_space_trailing_letters", " 12x", "5", "", 17},
        offset_case{"no_digits_read_as_zero", "abc", "abc", "", 0},
        offset_case{"every_white_space", "\t\n\v\f\r 9", "-0", "", 9},
        offset_case{"leading_zeros", "007", "+0", "", 7},
        offset_case{"digits_end_at_space", "12 34", "1", "", 13},
        offset_case{"sign_then_sign", "+-5", "2", "", 2},
        offset_case{"minus_one", "-1", "0", OFS_TO_RANGE, 0},
        offset_case{"space_minus_five", " -5", "0", OFS_TO_RANGE, 0},
        offset_case{"after_minus_one", "0", "-1", OFS_AFTER_RANGE, 0},
        offset_case{"after_129", "128", "129", OFS_AFTER_RANGE, 0},
        offset_case{"to_checked_first", "200", "300", OFS_TO_RANGE, 0},
        offset_case{"to_past_int32", "2147483648", "0", OFS_TO_RANGE, 0},
        offset_case{"to_wraps_to_5_in_32_bits", "4294967301", "0", OFS_TO_RANGE, 0},
        offset_case{"to_wraps_to_0_in_32_bits", "4294967296", "0", OFS_TO_RANGE, 0},
        offset_case{"negative_wraps_to_1_in_32_bits", "-4294967295", "0", OFS_TO_RANGE, 0},
        offset_case{"to_wraps_to_5_in_64_bits", "18446744073709551621", "0", OFS_TO_RANGE, 0},
        offset_case{"after_wraps_to_5_in_32_bits", "0", "4294967301", OFS_AFTER_RANGE, 0},
        offset_case{"after_wraps_to_0_in_32_bits", "1", "4294967296", OFS_AFTER_RANGE, 0}),
    [](const testing::TestParamInfo<offset_case>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- inputs

struct input_case {
    const char* label;
    std::string input;
    std::string kept;
    long long count;
};

void PrintTo(const input_case& c, std::ostream* out) { *out << c.label; }

struct Inputs : RunSequence, testing::WithParamInterface<input_case> {};

TEST_P(Inputs, KeepFlaggedWholeFramesInOrder) {
    const input_case& c = GetParam();
    write_file(dir.file("in.raw"), c.input);
    tool_run result = run({"in.raw", "out.raw"});
    expect_clean_end(result);
    EXPECT_EQ(result.output, written(c.count));
    EXPECT_EQ(read_file(dir.file("out.raw")), c.kept);
    EXPECT_EQ(read_file(dir.file("in.raw")), c.input);
}

INSTANTIATE_TEST_SUITE_P(
    FrameStreams, Inputs,
    testing::Values(
        input_case{"empty", "", "", 0},
        input_case{"one_byte", std::string("\x01", 1), "", 0},
        input_case{"two_bytes", std::string("\x01\x00", 2), "", 0},
        input_case{"three_bytes", std::string("\x01\x00\xFF", 3), "", 0},
        input_case{"ten_bytes", std::string("\x01\x00\xFF\xFF\x10\x00\x00\x00\x01\x00", 10),
                   std::string("\x01\x00\xFF\xFF", 4), 1},
        input_case{"all_kept", frame_bytes({1, 3, 0xFFFFFFFF, 0x80000001}), frame_bytes({1, 3, 0xFFFFFFFF, 0x80000001}),
                   4},
        input_case{"none_kept", frame_bytes({0x10, 0, 0xFFFFFFFE, 0x00010000}), "", 0},
        input_case{"event_without_keep_dropped", frame_bytes({0x11, 0x10, 0x13, 0xFFF0}), frame_bytes({0x11, 0x13}),
                   2},
        input_case{"mixed_with_tail", INPUT + "\x01\x01\x01", KEPT, KEPT_COUNT}),
    [](const testing::TestParamInfo<input_case>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- paths in messages

TEST_F(RunSequence, PercentSignsInPathsAreShownLiterally) {
    for (const std::string path : {"in%d.raw", "100%s%n%x%%.raw", "%"}) {
        tool_run result = run({path, "out.raw"});
        expect_clean_end(result);
        EXPECT_EQ(result.output, not_opened(path));
        tool_run obn = run({"in.raw", "out.raw", "nodir/" + path});
        expect_clean_end(obn);
        EXPECT_EQ(obn.output, not_opened("nodir/" + path));
    }
}

TEST_F(RunSequence, PathBytesAreShownAsGiven) {
    for (const std::string& path : {std::string("запись.raw"), std::string("\xFF\xFE\x80.raw")}) {
        tool_run result = run({path, "out.raw"});
        expect_clean_end(result);
        EXPECT_EQ(result.output, not_opened(path));
    }
}

// "\nне открыт " is 11 characters; the message keeps its first 1024.
struct long_path_case {
    const char* label;
    std::string character;  // one character of the path, in UTF-8
    size_t characters;      // the path's length in characters
};

void PrintTo(const long_path_case& c, std::ostream* out) { *out << c.label; }

struct LongPaths : RunSequence, testing::WithParamInterface<long_path_case> {};

TEST_P(LongPaths, MessageKeepsItsFirst1024Characters) {
    const long_path_case& c = GetParam();
    std::string path;
    for (size_t i = 0; i < c.characters; i++) path += c.character;
    std::string prefix = "\nне открыт ";
    std::string expected = prefix;
    size_t path_characters_shown = std::min<size_t>(c.characters, 1024 - 11);
    for (size_t i = 0; i < path_characters_shown; i++) expected += c.character;
    if (c.characters + 12 <= 1024) expected += "\n";
    for (const char* locale : {"LC_ALL=C", "LC_ALL=C.UTF-8"}) {
        SCOPED_TRACE(locale);
        tool_run result = run_tool(dir.path, {path, "out.raw"}, "/dev/null", {locale});
        expect_clean_end(result);
        EXPECT_EQ(result.output, expected);
        EXPECT_FALSE(file_exists(dir.file("out.raw")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    MessageLimit, LongPaths,
    testing::Values(long_path_case{"ascii_2000", "p", 2000},
                    long_path_case{"cyrillic_2000", "ж", 2000},
                    long_path_case{"three_byte_2000", "€", 2000},
                    long_path_case{"fits_with_line_feed", "p", 1012},
                    long_path_case{"line_feed_lost", "ж", 1013}),
    [](const testing::TestParamInfo<long_path_case>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- encoding

TEST_F(RunSequence, MessagesAreUtf8WhenTheLocaleCannotShowCyrillic) {
    for (const std::vector<std::string>& environment :
         {std::vector<std::string>{"LC_ALL=C"}, std::vector<std::string>{"LC_ALL=POSIX"},
          std::vector<std::string>{"LC_ALL", "LC_CTYPE", "LANG"},
          std::vector<std::string>{"LC_ALL", "LC_CTYPE=C", "LANG=C"},
          std::vector<std::string>{"LC_ALL=xx_XX.NO-SUCH-CODESET"},
          std::vector<std::string>{"LC_ALL=C.UTF-8"}}) {
        SCOPED_TRACE(environment.front());
        tool_run done = run_tool(dir.path, {"in.raw", "out.raw"}, "/dev/null", environment);
        expect_clean_end(done);
        EXPECT_EQ(done.output, written(KEPT_COUNT));
        tool_run failed = run_tool(dir.path, {"missing.raw", "out2.raw"}, "/dev/null", environment);
        expect_clean_end(failed);
        EXPECT_EQ(failed.output, not_opened("missing.raw"));
    }
}

// ---------------------------------------------------------------- outputs

struct full_device_case {
    const char* label;
    std::vector<std::string> arguments;
    std::vector<std::string> created;  // left empty
    bool out_written;                  // out.raw holds the kept frames
};

void PrintTo(const full_device_case& c, std::ostream* out) { *out << c.label; }

struct FullDevice : RunSequence, testing::WithParamInterface<full_device_case> {};

TEST_P(FullDevice, WriteErrorIsReportedInsteadOfTheCount) {
    const full_device_case& c = GetParam();
    tool_run result = run(c.arguments);
    expect_clean_end(result);
    EXPECT_EQ(result.output, not_written("/dev/full"));
    EXPECT_EQ(result.output.find("записано"), std::string::npos);
    std::vector<std::string> expected = c.created;
    expected.push_back("in.raw");
    if (c.out_written) expected.push_back("out.raw");
    EXPECT_EQ(directory_names(dir.path), sorted(expected));
    expect_created_empty(c.created);
    if (c.out_written) {
        EXPECT_EQ(read_file(dir.file("out.raw")), KEPT);
    }
}

INSTANTIATE_TEST_SUITE_P(
    WriteErrors, FullDevice,
    testing::Values(full_device_case{"filter", {"in.raw", "/dev/full"}, {}, false},
                    full_device_case{"marker", {"in.raw", "/dev/full", "obn.raw"}, {"obn.raw"}, false},
                    full_device_case{"statistics", {"in.raw", "/dev/full", "obn.raw", "1", "1"}, {"obn.raw"}, false},
                    full_device_case{"markers_to_full", {"in.raw", "out.raw", "/dev/full"}, {}, true}),
    [](const testing::TestParamInfo<full_device_case>& info) { return std::string(info.param.label); });

TEST_F(RunSequence, DevNullServesAsBothOutputsAndAsInput) {
    tool_run marker = run({"in.raw", "/dev/null", "/dev/null"});
    expect_clean_end(marker);
    EXPECT_EQ(marker.output, written(KEPT_COUNT));
    tool_run statistics = run({"in.raw", "/dev/null", "/dev/null", "2", "2"});
    expect_clean_end(statistics);
    EXPECT_EQ(statistics.output, written(KEPT_COUNT));
    EXPECT_EQ(read_file(dir.file("stat.pcm")).size(), 16u);
    tool_run empty = run({"/dev/null", "out.raw"});
    expect_clean_end(empty);
    EXPECT_EQ(empty.output, written(0));
    EXPECT_EQ(read_file(dir.file("out.raw")), "");
}

// ---------------------------------------------------------------- clashes

struct clash_case {
    const char* label;
    std::vector<std::string> arguments;
    std::string refused;               // the output named in the message
    std::vector<std::string> created;  // left empty
};

void PrintTo(const clash_case& c, std::ostream* out) { *out << c.label; }

// in.raw with a hard link hard.raw and a symbolic link soft.raw to it, and a
// symbolic link outlink.raw to out.raw, which the run itself creates.
struct Clashes : RunSequence, testing::WithParamInterface<clash_case> {
    void SetUp() override {
        RunSequence::SetUp();
        ASSERT_EQ(link(dir.file("in.raw").c_str(), dir.file("hard.raw").c_str()), 0);
        ASSERT_EQ(symlink("in.raw", dir.file("soft.raw").c_str()), 0);
        ASSERT_EQ(symlink("out.raw", dir.file("outlink.raw").c_str()), 0);
    }
};

TEST_P(Clashes, OutputOverAFileOfTheRunIsRefusedAndTheInputKeepsItsBytes) {
    clash_case c = GetParam();
    for (std::string& argument : c.arguments)
        if (argument.starts_with("DIR/")) argument = dir.file(argument.substr(4));
    if (c.refused.starts_with("DIR/")) c.refused = dir.file(c.refused.substr(4));
    tool_run result = run(c.arguments);
    expect_clean_end(result);
    EXPECT_EQ(result.output, not_opened(c.refused));
    std::vector<std::string> expected = c.created;
    for (const char* name : {"in.raw", "hard.raw", "soft.raw", "outlink.raw"}) expected.push_back(name);
    EXPECT_EQ(directory_names(dir.path), sorted(expected));
    expect_created_empty(c.created);
    EXPECT_EQ(read_file(dir.file("hard.raw")), INPUT);
}

INSTANTIATE_TEST_SUITE_P(
    RefusedOutputs, Clashes,
    testing::Values(
        clash_case{"out_same_name", {"in.raw", "in.raw"}, "in.raw", {}},
        clash_case{"out_other_spelling", {"in.raw", "./in.raw"}, "./in.raw", {}},
        clash_case{"out_absolute_path", {"in.raw", "DIR/in.raw"}, "DIR/in.raw", {}},
        clash_case{"out_hard_link", {"in.raw", "hard.raw"}, "hard.raw", {}},
        clash_case{"out_symbolic_link", {"in.raw", "soft.raw"}, "soft.raw", {}},
        clash_case{"in_through_symbolic_link", {"soft.raw", "in.raw"}, "in.raw", {}},
        clash_case{"out_hard_link_marker", {"in.raw", "hard.raw", "obn.raw"}, "hard.raw", {}},
        clash_case{"out_before_offsets", {"in.raw", "soft.raw", "obn.raw", "999", "0"}, "soft.raw", {}},
        clash_case{"obn_is_out_other_spelling", {"in.raw", "out.raw", "./out.raw"}, "./out.raw", {"out.raw"}},
        clash_case{"obn_is_out_symbolic_link", {"in.raw", "out.raw", "outlink.raw"}, "outlink.raw", {"out.raw"}},
        clash_case{"obn_is_in", {"in.raw", "out.raw", "in.raw"}, "in.raw", {"out.raw"}},
        clash_case{"obn_is_in_hard_link", {"in.raw", "out.raw", "hard.raw", "1", "1"}, "hard.raw", {"out.raw"}},
        clash_case{"obn_before_offsets", {"in.raw", "out.raw", "soft.raw", "999", "0"}, "soft.raw", {"out.raw"}}),
    [](const testing::TestParamInfo<clash_case>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- inputs without a length

// Frames of every kind, more than fit the first buffer of a stream.
std::string stream_input(size_t frames, std::string* kept) {
    std::vector<unsigned> all(frames);
    std::vector<unsigned> flagged;
    for (size_t i = 0; i < frames; i++) {
        all[i] = static_cast<unsigned>(i * 2654435761u);
        if (all[i] & 1) flagged.push_back(all[i]);
    }
    *kept = frame_bytes(flagged);
    return frame_bytes(all);
}

// Writes `bytes` into the FIFO from a child process; returns its id.
pid_t feed_fifo(const std::string& fifo, const std::string& bytes) {
    pid_t writer = fork();
    if (writer == 0) {
        alarm(RUN_TIME_LIMIT);
        int fd = open(fifo.c_str(), O_WRONLY);
        if (fd < 0) _exit(1);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
            if (wrote <= 0) _exit(1);
            done += static_cast<size_t>(wrote);
        }
        _exit(0);
    }
    return writer;
}

// Ends the writer whatever became of it; its bytes are judged by the output.
void reap(pid_t writer) {
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
}

struct Streams : RunSequence {
    std::string fifo;
    void SetUp() override {
        RunSequence::SetUp();
        fifo = dir.file("fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    }
};

TEST_F(Streams, FifoIsReadToItsEnd) {
    for (size_t frames : {size_t{0}, size_t{5}, size_t{3} << 20}) {
        SCOPED_TRACE(frames);
        std::string kept;
        std::string bytes = stream_input(frames, &kept) + "\x01\x02\x03";
        pid_t writer = feed_fifo(fifo, bytes);
        tool_run result = run({"fifo", "out.raw"});
        reap(writer);
        expect_clean_end(result);
        EXPECT_EQ(result.output, written(static_cast<long long>(kept.size() / 4)));
        EXPECT_TRUE(read_file(dir.file("out.raw")) == kept);
    }
}

TEST_F(Streams, StandardInputAsFileIn) {
    // Standard input from a pipe.
    std::string kept;
    std::string bytes = stream_input(size_t{5} << 20, &kept);
    pid_t writer = feed_fifo(fifo, bytes);
    tool_run piped = run_tool(dir.path, {"/dev/stdin", "out.raw", "obn.raw"}, fifo);
    reap(writer);
    expect_clean_end(piped);
    EXPECT_EQ(piped.output, written(static_cast<long long>(kept.size() / 4)));
    EXPECT_TRUE(read_file(dir.file("out.raw")) == kept);
    // Standard input from a regular file.
    tool_run from_file = run_tool(dir.path, {"/dev/stdin", "out.raw"}, dir.file("in.raw"));
    expect_clean_end(from_file);
    EXPECT_EQ(from_file.output, written(KEPT_COUNT));
    EXPECT_EQ(read_file(dir.file("out.raw")), KEPT);
}

}  // namespace
