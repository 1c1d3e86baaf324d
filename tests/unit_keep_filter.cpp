#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "frames/frames.h"

namespace {

bool cpu_has(filter_path path) {
    __builtin_cpu_init();
    if (path == filter_avx512) return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("popcnt");
    if (path == filter_avx2) return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return true;
}

std::vector<uint32_t> kept_of(const std::vector<uint32_t>& frames) {
    std::vector<uint32_t> kept;
    for (uint32_t frame : frames)
        if (frame & 1) kept.push_back(frame);
    return kept;
}

}  // namespace

// Every instruction-set path must give the plain stable filter's result, for
// lengths around the block sizes (the tails are done one frame at a time)
// and for any density of kept frames.
TEST(CopyKept, EveryPathMatchesTheStableFilterInPlace) {
    std::mt19937 random(7);
    for (filter_path path : {filter_scalar, filter_avx2, filter_avx512}) {
        if (!cpu_has(path)) continue;
        for (int length = 0; length <= 70; length++) {
            for (uint32_t keep_in_8 : {0u, 1u, 4u, 7u, 8u}) {
                std::vector<uint32_t> frames(static_cast<size_t>(length));
                for (uint32_t& frame : frames) frame = (random() & ~1u) | (random() % 8 < keep_in_8 ? 1u : 0u);
                std::vector<uint32_t> expected = kept_of(frames);
                int64_t kept = copy_kept(frames.data(), frames.data(), length, path);
                ASSERT_EQ(kept, static_cast<int64_t>(expected.size())) << "path " << path << " length " << length;
                frames.resize(expected.size());
                ASSERT_EQ(frames, expected) << "path " << path << " length " << length;
            }
        }
    }
}

TEST(CopyKept, BestPathIsOneThisProcessorRuns) { EXPECT_TRUE(cpu_has(best_filter_path())); }

// The loader filters each piece of the input as it arrives: filtering in
// pieces of any size must equal filtering the whole at once.
TEST(KeepFlagged, FilteringInPiecesEqualsFilteringTheWhole) {
    std::mt19937 random(11);
    std::vector<uint32_t> frames(1000);
    for (uint32_t& frame : frames) frame = random();
    std::vector<uint32_t> expected = kept_of(frames);
    for (int64_t piece : {1, 3, 15, 16, 17, 100, 999}) {
        ASSERT_TRUE(allocate_frames(frames.size()));
        std::copy(frames.begin(), frames.end(), frame_buffer);
        kept_count = 0;
        for (int64_t from = 0; from < 1000; from += piece) keep_flagged(from, std::min<int64_t>(from + piece, 1000));
        EXPECT_EQ(std::vector<uint32_t>(frame_buffer, frame_buffer + kept_count), expected) << "pieces of " << piece;
        release_frames();
    }
    kept_count = 0;
}
