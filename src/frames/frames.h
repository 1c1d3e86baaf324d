// The frame stream: 32-bit little-endian frames, channel 1 in the low half
// and channel 2 in the high half, both signed 16-bit. Two bits of channel 1
// are flags. The run holds its frames in one buffer, the kept ones at its
// front.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "frames are used in their file byte order");

constexpr uint32_t KEEP_FLAG = 0x0001;
constexpr uint32_t EVENT_FLAG = 0x0010;
constexpr uint32_t MARKER_MASK = 0xFFFF0010;
constexpr uint32_t MARKER_LEVEL = 0x3FFF;

extern uint32_t* frame_buffer;
extern int64_t kept_count;

enum load_result { load_done, load_no_memory, load_read_failed };

// Reads the open file whole into frame_buffer and closes it; a file with
// no length (pipe, FIFO, terminal) is read to its end. Trailing bytes that
// make no whole frame are ignored. The kept frames are moved to the front
// as the data arrives, while it is still in cache: afterwards kept_count
// is set and *frames_read counts every whole frame read.
load_result load_frames(int fd, int64_t* frames_read);

// Moves the frames with KEEP_FLAG among frames [from, to) of frame_buffer
// to follow the kept_count kept frames at its front, in order; frames
// before `from` have been filtered already. Returns kept_count.
int64_t keep_flagged(int64_t from, int64_t to);

// Copies the frames with KEEP_FLAG among `count` frames at `source` to
// `target`, in order, by a chosen instruction set; returns how many. In
// place when target <= source. Every path gives the same result; the best
// one is picked for this processor.
enum filter_path { filter_scalar, filter_avx2, filter_avx512 };
filter_path best_filter_path();
int64_t copy_kept(uint32_t* target, const uint32_t* source, int64_t count, filter_path path);

// Turns the kept frames into marker frames in place: channel 1 becomes
// MARKER_LEVEL at event frames and 0 elsewhere, channel 2 is kept.
void make_marker_frames();

// Releases frame_buffer.
void release_frames();

// The buffer itself: one zero-filled block, grown in place when a stream of
// unknown length needs more. Return false when memory runs out. The block
// has FRAME_SLACK readable frames past the `count` asked for, so a vector
// loop may load a whole block that ends past the last frame.
constexpr size_t FRAME_SLACK = 16;
bool allocate_frames(size_t count);
bool grow_frames(size_t count);
