// Event-triggered statistics: windows of kept frames around every event,
// summed position by position, and the two reports made of the sums.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int OFFSET_LIMIT = 128;
constexpr int WINDOW_CAPACITY = 256;
constexpr int32_t PEAK_LEVEL = 32000;

// Sums per window position. 64-bit, so no number of events can wrap them.
extern int64_t sum1[WINDOW_CAPACITY];
extern int64_t sum2[WINDOW_CAPACITY];
extern int64_t sign1[WINDOW_CAPACITY];
extern int64_t sign2[WINDOW_CAPACITY];
extern int window_length;

// Adds the window of every qualifying event among the kept frames: an event
// at kept index v qualifies when v > ofs_to and v + ofs_after < kept_count.
void accumulate_events(int ofs_to, int ofs_after);

// Room for the table: window_length lines.
constexpr size_t STAT_TABLE_BYTES = WINDOW_CAPACITY * 200;

// Formats the statistics table, CR LF line ends; returns its length.
size_t format_stat_table(char* table);

// The 32-bit float nearest to PEAK_LEVEL / peak, the quotient formed in
// extended precision.
float waveform_scale(int64_t peak);

// Fills window_length frames of the summed window scaled to PEAK_LEVEL.
void compute_waveform(uint32_t* frames);
