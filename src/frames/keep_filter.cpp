#include <array>
#include <immintrin.h>

#include "frames/frames.h"

// Every path is stable and works in place: the kept frames of a block are
// stored at the write position, which never passes the read position, and
// a block is loaded whole before anything is stored over it.

static int64_t copy_kept_scalar(uint32_t* target, const uint32_t* source, int64_t begin, int64_t count, int64_t kept) {
    // Branch-free: always store, advance only past a kept frame.
    for (int64_t i = begin; i < count; i++) {
        uint32_t frame = source[i];
        target[kept] = frame;
        kept += frame & KEEP_FLAG;
    }
    return kept;
}

// For each 8-bit keep mask, the lanes to gather, 3 bits per lane.
static constexpr std::array<uint32_t, 256> kept_lane_table = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t mask = 0; mask < 256; mask++) {
        uint32_t packed = 0, slot = 0;
        for (uint32_t lane = 0; lane < 8; lane++)
            if (mask & (1u << lane)) packed |= lane << (3 * slot++);
        table[mask] = packed;
    }
    return table;
}();

__attribute__((target("avx2,popcnt"))) static int64_t copy_kept_avx2(uint32_t* target, const uint32_t* source,
                                                                       int64_t count) {
    const __m256i lane_shifts = _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21);
    const __m256i lane_bits = _mm256_set1_epi32(7);
    int64_t kept = 0, i = 0;
    for (; i + 8 <= count; i += 8) {
        __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        auto mask = static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_slli_epi32(block, 31))));
        __m256i packed = _mm256_set1_epi32(static_cast<int>(kept_lane_table[mask]));
        __m256i lanes = _mm256_and_si256(_mm256_srlv_epi32(packed, lane_shifts), lane_bits);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + kept), _mm256_permutevar8x32_epi32(block, lanes));
        kept += _mm_popcnt_u32(mask);
    }
    return copy_kept_scalar(target, source, i, count, kept);
}

__attribute__((target("avx512f,popcnt"))) static int64_t copy_kept_avx512(uint32_t* target, const uint32_t* source,
                                                                            int64_t count) {
    const __m512i keep_bit = _mm512_set1_epi32(KEEP_FLAG);
    int64_t kept = 0, i = 0;
    for (; i + 16 <= count; i += 16) {
        __m512i block = _mm512_loadu_si512(source + i);
        __mmask16 mask = _mm512_test_epi32_mask(block, keep_bit);
        _mm512_storeu_si512(target + kept, _mm512_maskz_compress_epi32(mask, block));
        kept += _mm_popcnt_u32(mask);
    }
    return copy_kept_scalar(target, source, i, count, kept);
}

filter_path best_filter_path() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("popcnt")) return filter_avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt")) return filter_avx2;
    return filter_scalar;
}

int64_t copy_kept(uint32_t* target, const uint32_t* source, int64_t count, filter_path path) {
    switch (path) {
    case filter_avx512: return copy_kept_avx512(target, source, count);
    case filter_avx2: return copy_kept_avx2(target, source, count);
    default: return copy_kept_scalar(target, source, 0, count, 0);
    }
}

int64_t keep_flagged(int64_t from, int64_t to) {
    static const filter_path path = best_filter_path();
    kept_count += copy_kept(frame_buffer + kept_count, frame_buffer + from, to - from, path);
    return kept_count;
}
