// Event-window accumulation, the stat.txt table and the stat.pcm waveform.
#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frames/frames.h"
#include "stats/stats.h"

namespace {

int16_t channel1(uint32_t frame) { return static_cast<int16_t>(frame & 0xFFFF); }
int16_t channel2(uint32_t frame) { return static_cast<int16_t>(frame >> 16); }
uint32_t make_frame(int ch1, int ch2) {
    return (static_cast<uint32_t>(ch1) & 0xFFFF) | (static_cast<uint32_t>(ch2) << 16);
}

// Kept frame i of a fixture: channel-1 values of both signs with the keep
// flag and, for an event, the event flag; channel 2 of both signs and 0 at
// every fifth frame (a zero counts +1).
uint32_t fixture_frame(int i, bool event) {
    uint32_t raw1 = (i % 2 == 0 ? 0x0100u : 0x8000u) + static_cast<uint32_t>(i) * 0x40u;
    raw1 = (raw1 & ~0x11u & 0xFFFFu) | KEEP_FLAG | (event ? EVENT_FLAG : 0u);
    int ch2 = i % 5 == 0 ? 0 : (i % 2 == 0 ? 1 : -1) * (i * 97 % 30000 + 1);
    return raw1 | (static_cast<uint32_t>(ch2) << 16);
}

struct expected_sums {
    std::vector<int64_t> sum1, sum2, sign1, sign2;
};

// The windows of the given events added position by position.
expected_sums windows_of(const std::vector<uint32_t>& frames, const std::vector<int>& events, int ofs_to, int ofs_after) {
    int w = ofs_to + ofs_after;
    expected_sums e{std::vector<int64_t>(WINDOW_CAPACITY), std::vector<int64_t>(WINDOW_CAPACITY),
                    std::vector<int64_t>(WINDOW_CAPACITY), std::vector<int64_t>(WINDOW_CAPACITY)};
    for (int v : events)
        for (int j = 0; j < w; j++) {
            uint32_t frame = frames[static_cast<size_t>(v - ofs_to + j)];
            e.sum1[j] += channel1(frame);
            e.sum2[j] += channel2(frame);
            e.sign1[j] += channel1(frame) < 0 ? -1 : 1;
            e.sign2[j] += channel2(frame) < 0 ? -1 : 1;
        }
    return e;
}

class Accumulation : public ::testing::Test {
protected:
    void TearDown() override {
        release_frames();
        kept_count = 0;
    }

    // The kept frames as the filter leaves them; the accumulators are
    // soiled first, so a missing reset shows.
    void set_kept(const std::vector<uint32_t>& frames) {
        ASSERT_TRUE(allocate_frames(frames.size() + 1));
        for (size_t i = 0; i < frames.size(); i++) frame_buffer[i] = frames[i];
        kept_count = static_cast<int64_t>(frames.size());
        for (int j = 0; j < WINDOW_CAPACITY; j++) sum1[j] = sum2[j] = sign1[j] = sign2[j] = 7777;
    }

    static void expect_sums(const expected_sums& e) {
        for (int j = 0; j < WINDOW_CAPACITY; j++) {
            SCOPED_TRACE("position " + std::to_string(j));
            ASSERT_EQ(sum1[j], e.sum1[j]);
            ASSERT_EQ(sum2[j], e.sum2[j]);
            ASSERT_EQ(sign1[j], e.sign1[j]);
            ASSERT_EQ(sign2[j], e.sign2[j]);
        }
    }
};

std::vector<uint32_t> fixture(int count, const std::vector<int>& events) {
    std::vector<uint32_t> frames;
    for (int i = 0; i < count; i++) {
        bool event = false;
        for (int v : events) event = event || v == i;
        frames.push_back(fixture_frame(i, event));
    }
    return frames;
}

// ofs_to 2, ofs_after 3, ten kept frames: only events at 3 to 6 have a whole
// window with a frame before it and one after it.
TEST_F(Accumulation, QualificationBoundaries) {
    for (int v = 0; v < 10; v++) {
        SCOPED_TRACE("event at kept index " + std::to_string(v));
        std::vector<uint32_t> frames = fixture(10, {v});
        set_kept(frames);
        accumulate_events(2, 3);
        EXPECT_EQ(window_length, 5);
        bool qualifies = v >= 3 && v <= 6;
        expect_sums(windows_of(frames, qualifies ? std::vector<int>{v} : std::vector<int>{}, 2, 3));
        release_frames();
    }
}

TEST_F(Accumulation, EventAtThreeAddsKeptFramesOneToFive) {
    std::vector<uint32_t> frames = fixture(10, {3});
    set_kept(frames);
    accumulate_events(2, 3);
    for (int j = 0; j < 5; j++) {
        EXPECT_EQ(sum1[j], channel1(frames[static_cast<size_t>(1 + j)])) << j;
        EXPECT_EQ(sum2[j], channel2(frames[static_cast<size_t>(1 + j)])) << j;
        EXPECT_EQ(sign1[j], channel1(frames[static_cast<size_t>(1 + j)]) < 0 ? -1 : 1) << j;
        EXPECT_EQ(sign2[j], channel2(frames[static_cast<size_t>(1 + j)]) < 0 ? -1 : 1) << j;
    }
    EXPECT_EQ(sum1[5], 0);
    EXPECT_EQ(sign1[5], 0);
}

struct window_case {
    const char* name;
    int count;
    std::vector<int> events;
    int ofs_to, ofs_after;
    std::vector<int> qualifying;
};

void PrintTo(const window_case& c, std::ostream* os) { *os << c.name; }

class Windows : public Accumulation, public ::testing::WithParamInterface<window_case> {};

TEST_P(Windows, AddsTheWindowOfEveryQualifyingEvent) {
    const window_case& c = GetParam();
    std::vector<uint32_t> frames = fixture(c.count, c.events);
    set_kept(frames);
    accumulate_events(c.ofs_to, c.ofs_after);
    EXPECT_EQ(window_length, c.ofs_to + c.ofs_after);
    expect_sums(windows_of(frames, c.qualifying, c.ofs_to, c.ofs_after));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Windows,
    ::testing::Values(
        // W = 0: every accumulator is cleared, nothing is added.
        window_case{"empty_window", 6, {0, 1, 2, 3, 4, 5}, 0, 0, {}},
        window_case{"no_kept_frames", 0, {}, 3, 3, {}},
        window_case{"no_event", 20, {}, 3, 3, {}},
        // ofs_to = 0: index 0 never qualifies, index 1 does.
        window_case{"ofs_to_zero", 3, {0, 1, 2}, 0, 1, {1}},
        // Only frames before the event: the event itself is not in the window.
        window_case{"ofs_after_zero", 6, {0, 1, 2, 3, 4, 5}, 2, 0, {3, 4, 5}},
        // Two events one frame apart, W = 4: shared frames are added twice, at
        // different positions, event frames as ordinary samples.
        window_case{"overlapping", 12, {4, 5}, 1, 3, {4, 5}},
        window_case{"dense_events", 12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 2, 2, {3, 4, 5, 6, 7, 8, 9}},
        // The largest window: events at 129 and 171 of 300 qualify; 128 and 172
        // lie just outside.
        window_case{"both_offsets_128", 300, {128, 129, 171, 172}, 128, 128, {129, 171}},
        window_case{"window_of_all_but_two", 258, {1, 129, 257}, 128, 128, {129}},
        // Events scattered over long quiet stretches, next to each other and
        // at the edges of what qualifies: none may be skipped or doubled.
        window_case{"sparse_events",
                    100,
                    {3, 18, 19, 34, 35, 50, 66, 80, 94, 95, 96, 97, 99},
                    2,
                    3,
                    {3, 18, 19, 34, 35, 50, 66, 80, 94, 95, 96}},
        // Events 17 frames apart: each follows a stretch of 16 quiet frames.
        window_case{"events_after_quiet_stretches",
                    200,
                    {3, 20, 37, 60, 77, 94, 111, 150, 167, 196, 197, 199},
                    2,
                    3,
                    {3, 20, 37, 60, 77, 94, 111, 150, 167, 196}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Accumulation, ChannelOneKeepsItsFlagBits) {
    // 0x0011 is 17 and 0xFFFF is -1: the flags are part of the numbers.
    set_kept({0x00000001, 0x00000011, 0x0000FFFF, 0x00000001});
    accumulate_events(0, 1);
    EXPECT_EQ(sum1[0], 17 - 1);
    EXPECT_EQ(sign1[0], 0);
    EXPECT_EQ(sum2[0], 0);
    EXPECT_EQ(sign2[0], 2) << "a zero sample counts +1";
}

// Full-scale windows of more events than 32-bit partial sums could hold:
// events at the even indices 2..2n, W = 2 (the frame before and the event).
class ManyEvents : public Accumulation, public ::testing::WithParamInterface<int64_t> {};

TEST_P(ManyEvents, SumsStayExact) {
    int64_t n = GetParam();
    std::vector<uint32_t> frames(static_cast<size_t>(2 * n + 2));
    frames[0] = KEEP_FLAG;
    for (size_t i = 1; i < frames.size(); i++) frames[i] = i % 2 == 1 ? 0x80008001u : 0x7FFF7FFFu;
    set_kept(frames);
    accumulate_events(1, 1);
    EXPECT_EQ(sum1[0], -32767 * n);
    EXPECT_EQ(sum2[0], -32768 * n);
    EXPECT_EQ(sign1[0], -n);
    EXPECT_EQ(sign2[0], -n);
    EXPECT_EQ(sum1[1], 32767 * n);
    EXPECT_EQ(sum2[1], 32767 * n);
    EXPECT_EQ(sign1[1], n);
    EXPECT_EQ(sign2[1], n);
}

INSTANTIATE_TEST_SUITE_P(Counts, ManyEvents,
                         ::testing::Values(int64_t{65534}, int64_t{65535}, int64_t{65536}, int64_t{65537},
                                           int64_t{131070}, int64_t{131071}, int64_t{131072}, int64_t{200001}));

// The table, set up from sums directly.
class StatTable : public ::testing::Test {
protected:
    void SetUp() override {
        for (int j = 0; j < WINDOW_CAPACITY; j++) sum1[j] = sum2[j] = sign1[j] = sign2[j] = 0;
        window_length = 0;
    }
    void TearDown() override { window_length = 0; }

    static std::vector<std::string> lines() {
        static char table[STAT_TABLE_BYTES];
        std::string text(table, format_stat_table(table));
        std::vector<std::string> split;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            split.push_back(text.substr(start, end - start));
        EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
        return split;
    }

    // Columns of a line whose numbers fit, 1-based as a user counts them.
    static std::string columns(const std::string& line, size_t first, size_t last) {
        return line.substr(first - 1, last - first + 1);
    }
};

TEST_F(StatTable, ExampleLine) {
    window_length = 6;
    sum1[0] = 500;
    sum2[0] = -900;
    sign1[0] = 1;
    sign2[0] = -1;
    sum1[5] = -250;
    sum2[5] = 450;
    sign1[5] = -7;
    sign2[5] = 3;
    std::vector<std::string> table = lines();
    ASSERT_EQ(table.size(), 6u);
    EXPECT_EQ(table[5], "  5        -250        450  |   -7     3  |   50    50  #####       #####       ");
    EXPECT_EQ(table[0], "  0         500       -900  |    1    -1  |  100   100  ##########  ##########  ");
    EXPECT_EQ(table[1], "  1           0          0  |    0     0  |    0     0                          ");
    for (const std::string& line : table) {
        ASSERT_EQ(line.size(), 80u);
        EXPECT_EQ(line[28], '|');
        EXPECT_EQ(line[42], '|');
    }
}

TEST_F(StatTable, EmptyWindowGivesNoLines) {
    sum1[0] = 5;
    static char table[STAT_TABLE_BYTES];
    EXPECT_EQ(format_stat_table(table), 0u);
}

struct percent_case {
    int64_t sum;
    int percent;
};

// Channel 1 peaks at 1000 and channel 2 at 3; percentages truncate and a
// bar has percent / 10 "#", a negative sum the same as a positive one.
TEST_F(StatTable, PercentagesAndBarsTruncate) {
    const std::vector<percent_case> ch1 = {{1000, 100}, {999, 99}, {-999, 99}, {100, 10}, {99, 9},
                                           {-9, 0},     {0, 0},    {-1000, 100}, {505, 50}};
    const std::vector<percent_case> ch2 = {{3, 100}, {2, 66}, {2, 66}, {1, 33}, {-1, 33},
                                           {0, 0},   {-3, 100}, {-2, 66}, {0, 0}};
    window_length = static_cast<int>(ch1.size());
    for (size_t j = 0; j < ch1.size(); j++) {
        sum1[j] = ch1[j].sum;
        sum2[j] = ch2[j].sum;
    }
    std::vector<std::string> table = lines();
    ASSERT_EQ(table.size(), ch1.size());
    for (size_t j = 0; j < ch1.size(); j++) {
        SCOPED_TRACE(table[j]);
        int p1 = ch1[j].percent, p2 = ch2[j].percent;
        EXPECT_EQ(std::stoi(columns(table[j], 46, 48)), p1);
        EXPECT_EQ(std::stoi(columns(table[j], 52, 54)), p2);
        EXPECT_EQ(columns(table[j], 57, 66), std::string(static_cast<size_t>(p1 / 10), '#') +
                                                 std::string(static_cast<size_t>(10 - p1 / 10), ' '));
        EXPECT_EQ(columns(table[j], 69, 78), std::string(static_cast<size_t>(p2 / 10), '#') +
                                                 std::string(static_cast<size_t>(10 - p2 / 10), ' '));
    }
    // 999 and -999 differ in the sum column only.
    EXPECT_EQ(table[1].substr(15), table[2].substr(15));
    EXPECT_NE(table[1].substr(0, 15), table[2].substr(0, 15));
}

TEST_F(StatTable, ZeroMaximumGivesZeroPercentAndEmptyBars) {
    window_length = 3;
    sum2[0] = -40;
    sum2[1] = 20;
    sign1[1] = 4;
    std::vector<std::string> table = lines();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], "  0           0        -40  |    0     0  |    0   100              ##########  ");
    EXPECT_EQ(table[1], "  1           0         20  |    4     0  |    0    50              #####       ");
    EXPECT_EQ(table[2], "  2           0          0  |    0     0  |    0     0                          ");

    sum2[0] = sum2[1] = 0;
    for (const std::string& line : lines()) {
        EXPECT_EQ(columns(line, 44, 80), "    0     0                          ");
    }
}

// Sums past the 32-bit range print whole, widen the line, and their
// percentages are computed without overflow.
TEST_F(StatTable, WideNumbersWidenTheLine) {
    window_length = 3;
    sum1[0] = -6553400000;
    sum2[0] = 123;
    sign1[0] = -200001;
    sign2[0] = 200001;
    sum1[1] = 3276700000;
    sum1[2] = -6553399999;
    sum2[2] = 1;
    std::vector<std::string> table = lines();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], "  0   -6553400000        123  | -200001  200001  |  100   100  ##########  ##########  ");
    EXPECT_EQ(table[1], "  1   3276700000          0  |    0     0  |   50     0  #####                   ");
    EXPECT_EQ(table[2], "  2   -6553399999          1  |    0     0  |   99     0  #########               ");
}

// stat.pcm: the exact product of the sum and the float scale, truncated
// toward zero, worked out here from the float's bits.
int64_t exact_scaled(int64_t sum, float scale) {
    uint32_t bits = std::bit_cast<uint32_t>(scale);
    int biased = static_cast<int>((bits >> 23) & 0xFF);
    unsigned __int128 significand = (bits & 0x7FFFFF) | (biased == 0 ? 0u : 0x800000u);
    int power = (biased == 0 ? 1 : biased) - 150;  // scale = significand * 2^power
    unsigned __int128 magnitude = static_cast<unsigned __int128>(sum < 0 ? -sum : sum) * significand;
    unsigned __int128 truncated = power >= 0 ? magnitude << power : (-power >= 128 ? 0 : magnitude >> -power);
    auto result = static_cast<int64_t>(truncated);
    return sum < 0 ? -result : result;
}

class Waveform : public StatTable {
protected:
    std::vector<uint32_t> frames() {
        std::vector<uint32_t> out(WINDOW_CAPACITY, 0xDEADBEEF);
        compute_waveform(out.data());
        out.resize(static_cast<size_t>(window_length));
        return out;
    }
};

TEST_F(Waveform, ScaleIsTheNearestFloat) {
    EXPECT_EQ(waveform_scale(700), 45.71428680419922f);
    EXPECT_EQ(waveform_scale(999), 32.03203201293945f);
    EXPECT_LT(static_cast<long double>(waveform_scale(999)), 32000.0L / 999);
    EXPECT_EQ(waveform_scale(1), 32000.0f);
    EXPECT_EQ(waveform_scale(32000), 1.0f);
}

TEST_F(Waveform, PeakOf700) {
    window_length = 4;
    const int64_t sums[] = {-350, 123, 700, 1};
    for (int j = 0; j < 4; j++) {
        sum1[j] = sums[j];
        sum2[j] = -sums[3 - j];
    }
    EXPECT_EQ(frames(), (std::vector<uint32_t>{make_frame(-16000, -45), make_frame(5622, -32000),
                                               make_frame(32000, -5622), make_frame(45, 16000)}));
}

TEST_F(Waveform, PeakOf999FallsJustShort) {
    window_length = 2;
    sum1[0] = 999;
    sum2[1] = -999;
    sum2[0] = 500;
    EXPECT_EQ(frames(), (std::vector<uint32_t>{make_frame(31999, 16016), make_frame(0, -31999)}));
}

TEST_F(Waveform, ZeroPeakGivesZeroFrames) {
    window_length = 3;
    EXPECT_EQ(frames(), std::vector<uint32_t>(3, 0));
}

TEST_F(Waveform, PeakFromEitherChannel) {
    window_length = 2;
    sum1[0] = 100;
    sum2[1] = -400;
    EXPECT_EQ(frames(), (std::vector<uint32_t>{make_frame(8000, 0), make_frame(0, -32000)}));
}

// Peaks between 2^40 and 2^50: a product in double or long double rounds
// some sums up to the next whole number. The sums just below k / scale are
// the ones that catch it; random sums fill the rest of the window.
TEST_F(Waveform, ProductsOfLargeSumsAreExact) {
    const int64_t peaks[] = {(int64_t{1} << 40) + 12345,   (int64_t{3} << 42) - 7,          999999999999999,
                             (int64_t{1} << 50) - 1,       (int64_t{1} << 47) + 987654321, 1234567890123,
                             (int64_t{5} << 45) + 3,       562949953421311,                1125884351287069,
                             1125791017953745,             1125744351287083};
    int double_witnesses = 0, long_double_witnesses = 0;
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (int64_t peak : peaks) {
        SCOPED_TRACE("peak " + std::to_string(peak));
        float scale = static_cast<float>(32000.0L / static_cast<long double>(peak));
        ASSERT_EQ(waveform_scale(peak), scale);
        uint32_t bits = std::bit_cast<uint32_t>(scale);
        int shift = 150 - static_cast<int>((bits >> 23) & 0xFF);
        unsigned __int128 significand = (bits & 0x7FFFFF) | 0x800000u;
        ASSERT_GT(shift, 0);

        std::vector<int64_t> sums;
        for (int64_t k = 1; k <= 32000; k++) {
            // The largest sum whose exact product is below k.
            auto sum = static_cast<int64_t>(((static_cast<unsigned __int128>(k) << shift) - 1) / significand);
            if (sum > peak) break;
            bool double_wrong = static_cast<int64_t>(static_cast<double>(sum) * static_cast<double>(scale)) != k - 1;
            bool long_double_wrong =
                static_cast<int64_t>(static_cast<long double>(sum) * static_cast<long double>(scale)) != k - 1;
            double_witnesses += double_wrong;
            long_double_witnesses += long_double_wrong;
            if (long_double_wrong ? sums.size() < 480 : double_wrong && sums.size() < 300) sums.push_back(sum);
        }
        while (sums.size() < 2 * (WINDOW_CAPACITY - 1)) {
            state = state * 6364136223846793005u + 1442695040888963407u;
            sums.push_back(static_cast<int64_t>((state >> 11) % static_cast<uint64_t>(peak)));
        }

        window_length = WINDOW_CAPACITY;
        sum1[0] = peak;
        sum2[0] = -peak;
        for (int j = 1; j < WINDOW_CAPACITY; j++) {
            sum1[j] = sums[static_cast<size_t>(2 * j - 2)];
            sum2[j] = -sums[static_cast<size_t>(2 * j - 1)];
        }
        std::vector<uint32_t> out = frames();
        for (int j = 0; j < WINDOW_CAPACITY; j++) {
            SCOPED_TRACE("position " + std::to_string(j));
            int64_t c1 = exact_scaled(sum1[j], scale), c2 = exact_scaled(sum2[j], scale);
            ASSERT_LE(c1, 32000);
            ASSERT_GE(c2, -32000);
            ASSERT_EQ(out[static_cast<size_t>(j)], make_frame(static_cast<int>(c1), static_cast<int>(c2)))
                << "sums " << sum1[j] << " " << sum2[j];
        }
    }
    // The cases above must include sums a rounded product gets wrong.
    EXPECT_GT(double_witnesses, 0);
    if (LDBL_MANT_DIG == 64) {
        EXPECT_GT(long_double_witnesses, 0);
    }
}

}  // namespace
