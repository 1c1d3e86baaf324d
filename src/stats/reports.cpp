#include <cmath>
#include <cstdio>
#include <cstring>

#include "stats/stats.h"

static int64_t magnitude(int64_t value) { return value < 0 ? -value : value; }

static int64_t largest_magnitude(const int64_t* sums) {
    int64_t largest = 0;
    for (int j = 0; j < window_length; j++)
        if (magnitude(sums[j]) > largest) largest = magnitude(sums[j]);
    return largest;
}

// |sum| * 100 / largest, truncated; 0 where the channel sums to 0 throughout.
static int percent_of(int64_t sum, int64_t largest) {
    if (largest == 0) return 0;
    return static_cast<int>(static_cast<__int128>(magnitude(sum)) * 100 / largest);
}

// p / 10 characters "#", then spaces up to 10 characters.
static void fill_bar(char* bar, int percent) {
    memset(bar, ' ', 10);
    memset(bar, '#', static_cast<size_t>(percent / 10));
    bar[10] = '\0';
}

size_t format_stat_table(char* table) {
    int64_t max1 = largest_magnitude(sum1);
    int64_t max2 = largest_magnitude(sum2);
    size_t length = 0;
    for (int j = 0; j < window_length; j++) {
        int p1 = percent_of(sum1[j], max1);
        int p2 = percent_of(sum2[j], max2);
        char bar1[11], bar2[11];
        fill_bar(bar1, p1);
        fill_bar(bar2, p2);
        length += static_cast<size_t>(snprintf(table + length, STAT_TABLE_BYTES - length,
                                               "%3d   %9lld  %9lld  | %4lld  %4lld  |  %3d   %3d  %s  %s  \r\n", j,
                                               static_cast<long long>(sum1[j]), static_cast<long long>(sum2[j]),
                                               static_cast<long long>(sign1[j]), static_cast<long long>(sign2[j]),
                                               p1, p2, bar1, bar2));
    }
    return length;
}

float waveform_scale(int64_t peak) {
    return static_cast<float>(static_cast<long double>(PEAK_LEVEL) / static_cast<long double>(peak));
}

// sum * scale formed exactly, then truncated toward zero. The float is
// split into a 24-bit integer and a power of two, so the product is an
// exact 128-bit integer shifted right.
static int32_t scaled_sample(int64_t sum, float scale) {
    int exponent = 0;
    float fraction = std::frexp(scale, &exponent);
    int64_t mantissa = static_cast<int64_t>(std::ldexp(fraction, 24));
    int shift = 24 - exponent;
    unsigned __int128 product = static_cast<unsigned __int128>(magnitude(sum)) * static_cast<uint64_t>(mantissa);
    auto truncated = static_cast<int64_t>(shift >= 128 ? 0 : shift >= 0 ? product >> shift : product << -shift);
    return static_cast<int32_t>(sum < 0 ? -truncated : truncated);
}

void compute_waveform(uint32_t* frames) {
    int64_t max1 = largest_magnitude(sum1);
    int64_t max2 = largest_magnitude(sum2);
    int64_t peak = max1 > max2 ? max1 : max2;
    float scale = peak == 0 ? 0.0f : waveform_scale(peak);
    for (int j = 0; j < window_length; j++) {
        uint32_t c1 = static_cast<uint32_t>(scaled_sample(sum1[j], scale));
        uint32_t c2 = static_cast<uint32_t>(scaled_sample(sum2[j], scale));
        frames[j] = (c1 & 0xFFFF) | (c2 << 16);
    }
}
