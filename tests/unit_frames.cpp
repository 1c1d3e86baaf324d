// Loader, keep filter and marker transform on byte fixtures.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "frames/frames.h"

namespace {

std::string bytes_of(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes.push_back(static_cast<char>(value));
    return bytes;
}

// A byte pattern that is different at every offset, so a frame read from the
// wrong place or a lost chunk shows.
std::string patterned_bytes(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 12345;
    for (size_t i = 0; i < size; i++) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

uint32_t frame_at(const std::string& bytes, size_t index) {
    uint32_t frame = 0;
    for (int k = 3; k >= 0; k--) frame = (frame << 8) | static_cast<unsigned char>(bytes[index * 4 + k]);
    return frame;
}

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

// A regular file holding `bytes`, opened for reading.
int regular_file_with(const std::string& bytes) {
    char name[] = "/tmp/kordanix-frames-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    int reader = open(name, O_RDONLY);
    unlink(name);
    return reader;
}

class FrameBuffer : public ::testing::Test {
protected:
    void TearDown() override {
        release_frames();
        kept_count = 0;
    }

    // Loads `bytes` through the loader, from a regular file or a pipe.
    int64_t load(const std::string& bytes, bool through_pipe) {
        int64_t frames_read = -1;
        int fd = -1;
        if (!through_pipe) {
            fd = regular_file_with(bytes);
            EXPECT_EQ(load_frames(fd, &frames_read), load_done);
        } else {
            int ends[2];
            EXPECT_EQ(pipe(ends), 0);
            // A loader that stops early closes the pipe under the writer:
            // that must fail the test, not kill it.
            struct sigaction ignore = {}, earlier = {};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGPIPE, &ignore, &earlier);
            fd = ends[0];
            // Odd-sized writes make reads end inside a frame.
            std::thread writer([&bytes, out = ends[1]] {
                size_t done = 0;
                while (done < bytes.size()) {
                    size_t piece = bytes.size() - done < 4093 ? bytes.size() - done : 4093;
                    ssize_t put = write(out, bytes.data() + done, piece);
                    if (put <= 0) break;
                    done += static_cast<size_t>(put);
                }
                close(out);
            });
            EXPECT_EQ(load_frames(fd, &frames_read), load_done);
            writer.join();
            sigaction(SIGPIPE, &earlier, nullptr);
        }
        EXPECT_TRUE(is_closed(fd)) << "the loader closes its input";
        return frames_read;
    }

    // Puts frames into a fresh buffer, as the loader would leave them.
    void set_frames(const std::vector<uint32_t>& frames) {
        ASSERT_TRUE(allocate_frames(frames.size() + 1));
        for (size_t i = 0; i < frames.size(); i++) frame_buffer[i] = frames[i];
    }

    std::vector<uint32_t> front(int64_t count) const {
        return std::vector<uint32_t>(frame_buffer, frame_buffer + count);
    }
};

struct load_case {
    const char* name;
    size_t byte_count;
};

void PrintTo(const load_case& c, std::ostream* os) { *os << c.name; }

class LoadFrames : public FrameBuffer, public ::testing::WithParamInterface<std::tuple<load_case, bool>> {};

// Every whole frame is read and the kept ones arrive at the front in order;
// 1 to 3 trailing bytes are ignored. The large sizes make a stream outgrow
// its first buffer (4 MiB) once and twice.
TEST_P(LoadFrames, ReadsEveryWholeFrameAndKeepsTheFlaggedInOrder) {
    auto [sizes, through_pipe] = GetParam();
    std::string bytes = patterned_bytes(sizes.byte_count);
    int64_t frames_read = load(bytes, through_pipe);
    ASSERT_EQ(frames_read, static_cast<int64_t>(sizes.byte_count / 4));
    std::vector<uint32_t> kept;
    for (int64_t i = 0; i < frames_read; i++)
        if (frame_at(bytes, static_cast<size_t>(i)) & KEEP_FLAG) kept.push_back(frame_at(bytes, static_cast<size_t>(i)));
    ASSERT_EQ(kept_count, static_cast<int64_t>(kept.size()));
    for (int64_t i = 0; i < kept_count; i++) ASSERT_EQ(frame_buffer[i], kept[static_cast<size_t>(i)]) << "kept frame " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LoadFrames,
    ::testing::Combine(::testing::Values(load_case{"empty", 0}, load_case{"one_byte", 1}, load_case{"two_bytes", 2},
                                         load_case{"three_bytes", 3},
                                         load_case{"one_frame", 4}, load_case{"ten_bytes", 10},
                                         load_case{"stream_buffer_exactly", size_t{4} << 20},
                                         load_case{"one_growth", (size_t{4} << 20) + 6},
                                         load_case{"two_growths", (size_t{9} << 20) + 3}),
                       ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "_pipe" : "_file");
    });

TEST_F(FrameBuffer, LoadsNothingFromACharacterDevice) {
    int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    int64_t frames_read = -1;
    EXPECT_EQ(load_frames(fd, &frames_read), load_done);
    EXPECT_EQ(frames_read, 0);
    EXPECT_TRUE(is_closed(fd));
}

TEST_F(FrameBuffer, ReportsAReadError) {
    // A directory opens for reading but cannot be read.
    int fd = open("/tmp", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    int64_t frames_read = -1;
    EXPECT_EQ(load_frames(fd, &frames_read), load_read_failed);
    EXPECT_TRUE(is_closed(fd));
}

TEST_F(FrameBuffer, ByteExamplesThroughLoaderAndFilter) {
    // 01 00 FF FF is kept (channel 1 = 1, channel 2 = -1); 10 00 00 00 is an
    // event without the keep flag and is dropped.
    std::string bytes = bytes_of({0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0x10, 0x00});
    ASSERT_EQ(load(bytes, false), 2);
    EXPECT_EQ(kept_count, 1);
    EXPECT_EQ(static_cast<int16_t>(frame_buffer[0] & 0xFFFF), 1);
    EXPECT_EQ(static_cast<int16_t>(frame_buffer[0] >> 16), -1);
}

struct filter_case {
    const char* name;
    std::vector<uint32_t> frames;
    std::vector<uint32_t> kept;
};

void PrintTo(const filter_case& c, std::ostream* os) { *os << c.name; }

class KeepFilter : public FrameBuffer, public ::testing::WithParamInterface<filter_case> {};

TEST_P(KeepFilter, MovesKeptFramesToTheFrontInOrder) {
    const filter_case& c = GetParam();
    set_frames(c.frames);
    int64_t kept = keep_flagged(0, static_cast<int64_t>(c.frames.size()));
    EXPECT_EQ(kept, static_cast<int64_t>(c.kept.size()));
    EXPECT_EQ(kept_count, kept);
    EXPECT_EQ(front(kept), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, KeepFilter,
    ::testing::Values(
        filter_case{"none_at_all", {}, {}},
        filter_case{"no_kept_frame", {0x00000000, 0xFFFF0010, 0x7FFFFFFE, 0x000000FE}, {}},
        filter_case{"event_without_keep_dropped", {0x00100010, 0x12340011, 0x00000010}, {0x12340011}},
        filter_case{"all_kept_unchanged", {0x80008001, 0x7FFF7FFF, 0x00000001}, {0x80008001, 0x7FFF7FFF, 0x00000001}},
        // Kept frames move down past dropped ones and keep their order, even
        // when a kept frame lands where another kept frame was.
        filter_case{"stable_in_place",
                    {0xAAAA0000, 0x11110001, 0xBBBB0002, 0x22220011, 0x33330003, 0xCCCC0010, 0x44440001},
                    {0x11110001, 0x22220011, 0x33330003, 0x44440001}},
        filter_case{"only_the_last_kept", {0x00000000, 0x00000002, 0x00000004, 0x9ABC0001}, {0x9ABC0001}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameBuffer, FiltersOnlyTheFramesItIsGiven) {
    set_frames({0x00010001, 0x00020001, 0x00030001});
    EXPECT_EQ(keep_flagged(0, 2), 2);
    EXPECT_EQ(front(3), (std::vector<uint32_t>{0x00010001, 0x00020001, 0x00030001}));
}

struct marker_case {
    const char* name;
    uint32_t kept_frame;
    uint32_t marker_frame;
};

void PrintTo(const marker_case& c, std::ostream* os) { *os << c.name; }

class MarkerFrames : public FrameBuffer, public ::testing::WithParamInterface<marker_case> {};

TEST_P(MarkerFrames, ReplacesChannelOneByTheMarker) {
    set_frames({GetParam().kept_frame});
    kept_count = 1;
    make_marker_frames();
    EXPECT_EQ(frame_buffer[0], GetParam().marker_frame);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MarkerFrames,
    ::testing::Values(marker_case{"event_11_56_34_12", 0x12345611, 0x12343FFF},
                      marker_case{"plain_01_00_CD_AB", 0xABCD0001, 0xABCD0000},
                      marker_case{"event_FF_FF_00_80", 0x8000FFFF, 0x80003FFF},
                      marker_case{"plain_all_ones", 0xFFFFFFEF, 0xFFFF0000},
                      marker_case{"event_bit_only", 0x00000011, 0x00003FFF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameBuffer, MarkerTouchesOnlyTheKeptFrames) {
    set_frames({0x12345611, 0xABCD0001, 0x55550011, 0x66660011});
    kept_count = 2;
    make_marker_frames();
    EXPECT_EQ(front(4), (std::vector<uint32_t>{0x12343FFF, 0xABCD0000, 0x55550011, 0x66660011}));
    kept_count = 0;
    make_marker_frames();
    EXPECT_EQ(front(4), (std::vector<uint32_t>{0x12343FFF, 0xABCD0000, 0x55550011, 0x66660011}));
}

}  // namespace
