#include <cstring>

#include "frames/frames.h"
#include "stats/stats.h"

int64_t sum1[WINDOW_CAPACITY];
int64_t sum2[WINDOW_CAPACITY];
int64_t sign1[WINDOW_CAPACITY];
int64_t sign2[WINDOW_CAPACITY];
int window_length = 0;

// Window positions are added 16 at a time over a batch of events, in
// 32-bit lanes that stay in registers; each batch is then added to the
// 64-bit sums. A batch of 256 full-scale events cannot wrap a lane.
constexpr int LANES = 16;
constexpr int EVENT_BATCH = 256;
typedef uint32_t frame_lanes __attribute__((vector_size(LANES * sizeof(uint32_t))));
typedef int32_t sample_lanes __attribute__((vector_size(LANES * sizeof(int32_t))));

// Kept index at which each batched event's window starts.
static int64_t batch_starts[EVENT_BATCH];
static int batch_count = 0;

// Adds window positions [first, first + LANES) of every batched event. A
// block may reach up to LANES - 1 frames past a window's end: the frame
// buffer has that much slack, and those lanes are not used.
__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) static void add_positions(int first) {
    sample_lanes total1{}, total2{}, minus1{}, minus2{};
    for (int e = 0; e < batch_count; e++) {
        frame_lanes frames;
        memcpy(&frames, frame_buffer + batch_starts[e] + first, sizeof frames);
        sample_lanes a = reinterpret_cast<sample_lanes>(frames << 16) >> 16;  // channel 1, sign-extended
        sample_lanes b = reinterpret_cast<sample_lanes>(frames) >> 16;        // channel 2
        total1 += a;
        total2 += b;
        minus1 += a >> 31;  // -1 for every negative sample
        minus2 += b >> 31;
    }
    int used = window_length - first < LANES ? window_length - first : LANES;
    for (int lane = 0; lane < used; lane++) {
        sum1[first + lane] += total1[lane];
        sum2[first + lane] += total2[lane];
        sign1[first + lane] += batch_count + 2 * int64_t{minus1[lane]};
        sign2[first + lane] += batch_count + 2 * int64_t{minus2[lane]};
    }
}

static void add_batch() {
    for (int first = 0; first < window_length; first += LANES) add_positions(first);
    batch_count = 0;
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
    batch_count = 0;
    // Qualifying indices: ofs_to < v < kept_count - ofs_after.
    int64_t end = kept_count - ofs_after;
    for (int64_t v = ofs_to + 1; v < end; v++) {
        if (v + 16 <= end && !any_event_among_16(frame_buffer + v)) {
            v += 15;
            continue;
        }
        if ((frame_buffer[v] & EVENT_FLAG) == 0) continue;
        batch_starts[batch_count++] = v - ofs_to;
        if (batch_count == EVENT_BATCH) add_batch();
    }
    add_batch();
}
