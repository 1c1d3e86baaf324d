#include "frames/frames.h"

int64_t keep_flagged(int64_t count) {
    // Branch-free: every frame is stored at the write position, which moves
    // on only past a kept frame. Stable, and in place since kept <= i.
    uint32_t* frames = frame_buffer;
    int64_t kept = 0;
    for (int64_t i = 0; i < count; i++) {
        uint32_t frame = frames[i];
        frames[kept] = frame;
        kept += frame & KEEP_FLAG;
    }
    kept_count = kept;
    return kept;
}
