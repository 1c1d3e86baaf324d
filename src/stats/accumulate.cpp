#include <cstring>

#include "frames/frames.h"
#include "stats/stats.h"

int64_t sum1[WINDOW_CAPACITY];
int64_t sum2[WINDOW_CAPACITY];
int64_t sign1[WINDOW_CAPACITY];
int64_t sign2[WINDOW_CAPACITY];
int window_length = 0;

// The inner loop adds into 32-bit partial sums, which vectorise well; they
// are carried into the 64-bit sums before they could wrap: 65535 events
// of full-scale samples still fit.
constexpr int64_t EVENTS_PER_CARRY = 65535;

static int32_t partial1[WINDOW_CAPACITY];
static int32_t partial2[WINDOW_CAPACITY];
static int32_t negatives1[WINDOW_CAPACITY];
static int32_t negatives2[WINDOW_CAPACITY];

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) static void add_window(const uint32_t* __restrict frames, int length) {
    for (int j = 0; j < length; j++) {
        int32_t a = static_cast<int16_t>(frames[j] & 0xFFFF);
        int32_t b = static_cast<int16_t>(frames[j] >> 16);
        partial1[j] += a;
        partial2[j] += b;
        negatives1[j] += static_cast<int32_t>(static_cast<uint32_t>(a) >> 31);
        negatives2[j] += static_cast<int32_t>(static_cast<uint32_t>(b) >> 31);
    }
}

// Moves the partial sums of `events` windows into the 64-bit sums.
static void carry_partials(int64_t events) {
    for (int j = 0; j < window_length; j++) {
        sum1[j] += partial1[j];
        sum2[j] += partial2[j];
        sign1[j] += events - 2 * int64_t{negatives1[j]};
        sign2[j] += events - 2 * int64_t{negatives2[j]};
    }
    memset(partial1, 0, sizeof partial1);
    memset(partial2, 0, sizeof partial2);
    memset(negatives1, 0, sizeof negatives1);
    memset(negatives2, 0, sizeof negatives2);
}

// True when any of the 16 frames from `frames` on has EVENT_FLAG. Events
// are rare in most recordings: testing 16 frames at once skips the quiet
// stretches at memory speed.
static bool any_event_among_16(const uint32_t* frames) {
    uint32_t any = 0;
    for (int i = 0; i < 16; i++) any |= frames[i];
    return (any & EVENT_FLAG) != 0;
}

void accumulate_events(int ofs_to, int ofs_after) {
    window_length = ofs_to + ofs_after;
    memset(sum1, 0, sizeof sum1);
    memset(sum2, 0, sizeof sum2);
    memset(sign1, 0, sizeof sign1);
    memset(sign2, 0, sizeof sign2);
    carry_partials(0);
    // Qualifying indices: ofs_to < v < kept_count - ofs_after.
    int64_t events = 0;
    int64_t end = kept_count - ofs_after;
    for (int64_t v = ofs_to + 1; v < end; v++) {
        if (v + 16 <= end && !any_event_among_16(frame_buffer + v)) {
            v += 15;
            continue;
        }
        if ((frame_buffer[v] & EVENT_FLAG) == 0) continue;
        add_window(frame_buffer + v - ofs_to, window_length);
        if (++events == EVENTS_PER_CARRY) {
            carry_partials(events);
            events = 0;
        }
    }
    carry_partials(events);
}
