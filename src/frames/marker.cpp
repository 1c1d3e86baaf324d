#include "frames/frames.h"

void make_marker_frames() {
    uint32_t* frames = frame_buffer;
    for (int64_t i = 0; i < kept_count; i++) {
        uint32_t frame = frames[i] & MARKER_MASK;
        uint32_t event_level = (0u - ((frame & EVENT_FLAG) >> 4)) & MARKER_LEVEL;
        frames[i] = frame | event_level;
    }
}
