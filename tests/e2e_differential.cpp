// The tool against a plain model of its three modes, on seeded random
// recordings: every output file byte for byte, and the final message.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

// What a run should leave behind.
struct model_run {
    std::string kept, markers, table, waveform;
    long long kept_count = 0;
};

uint32_t le_frame(const std::string& bytes, size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[4 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[4 * i + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[4 * i + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[4 * i + 3])) << 24;
}

void put_frame(std::string& bytes, uint32_t frame) {
    for (int k = 0; k < 4; k++) bytes.push_back(static_cast<char>((frame >> (8 * k)) & 0xFF));
}

long long low_sample(uint32_t frame) {
    long long value = frame & 0xFFFF;
    return value >= 0x8000 ? value - 0x10000 : value;
}

long long high_sample(uint32_t frame) { return low_sample(frame >> 16); }

long long magnitude(long long value) { return value < 0 ? -value : value; }

std::string bar(long long percent) {
    std::string text;
    for (long long i = 0; i < 10; i++) text += i < percent / 10 ? '#' : ' ';
    return text;
}

// sum * scale exactly, truncated toward zero: the float is a 24-bit whole
// number times a power of two.
long long scaled(long long sum, float scale) {
    uint32_t bits = std::bit_cast<uint32_t>(scale);
    int exponent = static_cast<int>(bits >> 23 & 0xFF);
    unsigned long long whole = bits & 0x7FFFFF;
    if (exponent != 0) whole |= 0x800000;
    int power = (exponent == 0 ? 1 : exponent) - 127 - 23;
    unsigned __int128 product = static_cast<unsigned __int128>(magnitude(sum)) * whole;
    if (power >= 0)
        product <<= power;
    else
        product = -power >= 128 ? 0 : product >> -power;
    long long value = static_cast<long long>(product);
    return sum < 0 ? -value : value;
}

model_run model(const std::string& input, int ofs_to, int ofs_after) {
    model_run run;
    std::vector<uint32_t> kept;
    for (size_t i = 0; i + 4 <= input.size(); i += 4) {
        uint32_t frame = le_frame(input, i / 4);
        if (frame & 1) kept.push_back(frame);
    }
    run.kept_count = static_cast<long long>(kept.size());
    for (uint32_t frame : kept) put_frame(run.kept, frame);
    for (uint32_t frame : kept) {
        uint32_t marker = frame & 0xFFFF0000;
        if (frame & 0x10) marker |= 0x3FFF;
        put_frame(run.markers, marker);
    }

    int w = ofs_to + ofs_after;
    std::vector<long long> sum1(w), sum2(w), sign1(w), sign2(w);
    long long count = run.kept_count;
    for (long long v = 0; v < count; v++) {
        if (!(kept[v] & 0x10) || !(v > ofs_to) || !(v + ofs_after < count)) continue;
        for (int j = 0; j < w; j++) {
            uint32_t frame = kept[v - ofs_to + j];
            sum1[j] += low_sample(frame);
            sum2[j] += high_sample(frame);
            sign1[j] += low_sample(frame) < 0 ? -1 : 1;
            sign2[j] += high_sample(frame) < 0 ? -1 : 1;
        }
    }
    long long max1 = 0, max2 = 0;
    for (int j = 0; j < w; j++) {
        if (magnitude(sum1[j]) > max1) max1 = magnitude(sum1[j]);
        if (magnitude(sum2[j]) > max2) max2 = magnitude(sum2[j]);
    }
    for (int j = 0; j < w; j++) {
        long long p1 = max1 == 0 ? 0 : magnitude(sum1[j]) * 100 / max1;
        long long p2 = max2 == 0 ? 0 : magnitude(sum2[j]) * 100 / max2;
        char line[256];
        snprintf(line, sizeof line, "%3d   %9lld  %9lld  | %4lld  %4lld", j, sum1[j], sum2[j], sign1[j], sign2[j]);
        run.table += line;
        snprintf(line, sizeof line, "  |  %3lld   %3lld  ", p1, p2);
        run.table += line;
        run.table += bar(p1) + "  " + bar(p2) + "  \r\n";
    }
    long long peak = max1 > max2 ? max1 : max2;
    float scale = peak == 0 ? 0.0f : static_cast<float>(32000.0L / static_cast<long double>(peak));
    for (int j = 0; j < w; j++) {
        uint32_t c1 = static_cast<uint32_t>(scaled(sum1[j], scale));
        uint32_t c2 = static_cast<uint32_t>(scaled(sum2[j], scale));
        put_frame(run.waveform, (c1 & 0xFFFF) | (c2 << 16));
    }
    return run;
}

// Seeded, so a failure names a case that can be run again.
struct generator {
    uint64_t state;
    uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    int below(int limit) { return static_cast<int>(next() % static_cast<uint64_t>(limit)); }
    bool chance(int percent) { return below(100) < percent; }
};

uint16_t random_sample(generator& random) {
    switch (random.below(6)) {
    case 0: return 0;
    case 1: return 0x8000;
    case 2: return 0x7FFF;
    case 3: return static_cast<uint16_t>(random.below(64));
    case 4: return static_cast<uint16_t>(0x10000 - 1 - random.below(64));
    default: return static_cast<uint16_t>(random.next());
    }
}

struct recording {
    std::string bytes;
    int kept = 0;
};

// Kept and event densities vary from case to case; the kept count is
// sometimes tiny.
recording random_recording(generator& random) {
    int frame_count;
    switch (random.below(4)) {
    case 0: frame_count = random.below(12); break;
    case 1: frame_count = random.below(300); break;
    default: frame_count = random.below(3000); break;
    }
    const int keep_percents[] = {0, 3, 30, 70, 100};
    const int event_percents[] = {0, 1, 5, 30, 90, 100};
    int keep_percent = keep_percents[random.below(5)];
    int event_percent = event_percents[random.below(6)];
    recording rec;
    for (int i = 0; i < frame_count; i++) {
        uint32_t frame = random_sample(random) | static_cast<uint32_t>(random_sample(random)) << 16;
        frame &= ~0x11u;
        bool keep = random.chance(keep_percent);
        if (keep) frame |= 1;
        if (random.chance(event_percent)) frame |= 0x10;
        rec.kept += keep;
        put_frame(rec.bytes, frame);
    }
    for (int extra = random.below(4); extra > 0; extra--) rec.bytes.push_back(static_cast<char>(random.next()));
    return rec;
}

int random_offset(generator& random) {
    switch (random.below(5)) {
    case 0: return 0;
    case 1: return 128;
    case 2: return random.below(4);
    default: return random.below(129);
    }
}

// Offsets that put the window near the edges of the kept frames: its length
// just below, at and above the kept count.
void pick_offsets(generator& random, int kept, int& ofs_to, int& ofs_after) {
    ofs_to = random_offset(random);
    ofs_after = random_offset(random);
    if (random.chance(40)) {
        int target = kept + random.below(5) - 3;
        if (target < 0) target = 0;
        if (target > 256) target = 256;
        ofs_to = random.below((target < 128 ? target : 128) + 1);
        ofs_after = target - ofs_to;
        if (ofs_after > 128) {
            ofs_to += ofs_after - 128;
            ofs_after = 128;
        }
    }
}

TEST(Differential, AllModesMatchTheModel) {
    constexpr int CASES = 320;
    // What the cases exercised, so a generator that drifts into trivial
    // recordings shows.
    int with_events = 0, silent_window = 0, empty_window = 0, few_kept = 0, odd_length = 0, widest = 0;
    for (int c = 0; c < CASES; c++) {
        generator random{0x2545F4914F6CDD1Du + static_cast<uint64_t>(c) * 0x9E3779B97F4A7C15u};
        recording rec = random_recording(random);
        int mode = random.below(10);  // 0: filter, 1-2: marker, else statistics
        int ofs_to = 0, ofs_after = 0;
        if (mode >= 3) pick_offsets(random, rec.kept, ofs_to, ofs_after);
        SCOPED_TRACE("case " + std::to_string(c) + ": " + std::to_string(rec.bytes.size()) + " bytes, " +
                     std::to_string(rec.kept) + " kept, mode " + std::to_string(mode) + ", offsets " +
                     std::to_string(ofs_to) + " " + std::to_string(ofs_after));

        temp_dir dir;
        write_file(dir.file("rec.raw"), rec.bytes);
        std::vector<std::string> arguments = {"rec.raw", "kept.raw"};
        if (mode >= 1) arguments.push_back("marks.raw");
        if (mode >= 3) {
            arguments.push_back(std::to_string(ofs_to));
            arguments.push_back(std::to_string(ofs_after));
        }
        tool_run run = run_tool(dir.path, arguments);
        model_run expected = model(rec.bytes, ofs_to, ofs_after);

        ASSERT_EQ(run.output, written(expected.kept_count));
        ASSERT_EQ(run.errors, "");
        ASSERT_EQ(run.exit_status, 0);
        ASSERT_EQ(read_file(dir.file("kept.raw")), expected.kept);
        ASSERT_EQ(file_exists(dir.file("marks.raw")), mode >= 1);
        if (mode >= 1) {
            ASSERT_EQ(read_file(dir.file("marks.raw")), expected.markers);
        }
        ASSERT_EQ(file_exists(dir.file("stat.txt")), mode >= 3);
        ASSERT_EQ(file_exists(dir.file("stat.pcm")), mode >= 3);
        if (mode >= 3) {
            ASSERT_EQ(read_file(dir.file("stat.txt")), expected.table);
            ASSERT_EQ(read_file(dir.file("stat.pcm")), expected.waveform);
            bool silent = expected.waveform.find_first_not_of('\0') == std::string::npos;
            with_events += !silent;
            silent_window += silent && !expected.waveform.empty();
            empty_window += expected.waveform.empty();
            widest += ofs_to == 128 || ofs_after == 128;
        }
        few_kept += expected.kept_count < 5;
        odd_length += rec.bytes.size() % 4 != 0;
    }
    EXPECT_GT(with_events, 50);
    EXPECT_GT(silent_window, 5);
    EXPECT_GT(empty_window, 5);
    EXPECT_GT(few_kept, 20);
    EXPECT_GT(odd_length, 50);
    EXPECT_GT(widest, 10);
}

}  // namespace
