#include <sys/mman.h>

#include "frames/frames.h"

uint32_t* frame_buffer = nullptr;
int64_t kept_count = 0;
static size_t frame_capacity = 0;  // frames asked for, not counting the slack

static size_t mapped_bytes(size_t count) { return (count + FRAME_SLACK) * sizeof(uint32_t); }

// The buffer is an anonymous mapping: zero-filled, and advised for huge
// pages, which makes the first touch of a large buffer several times
// cheaper than with 4 KiB pages.
bool allocate_frames(size_t count) {
    if (count == 0) return true;
    if (count > SIZE_MAX / sizeof(uint32_t) - FRAME_SLACK) return false;
    void* block = mmap(nullptr, mapped_bytes(count), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return false;
    madvise(block, mapped_bytes(count), MADV_HUGEPAGE);  // only advice: refused is fine
    frame_buffer = static_cast<uint32_t*>(block);
    frame_capacity = count;
    return true;
}

bool grow_frames(size_t count) {
    if (frame_buffer == nullptr) return allocate_frames(count);
    if (count > SIZE_MAX / sizeof(uint32_t) - FRAME_SLACK) return false;
    void* block = mremap(frame_buffer, mapped_bytes(frame_capacity), mapped_bytes(count), MREMAP_MAYMOVE);
    if (block == MAP_FAILED) return false;
    madvise(block, mapped_bytes(count), MADV_HUGEPAGE);
    frame_buffer = static_cast<uint32_t*>(block);
    frame_capacity = count;
    return true;
}

void release_frames() {
    if (frame_buffer != nullptr) munmap(frame_buffer, mapped_bytes(frame_capacity));
    frame_buffer = nullptr;
    frame_capacity = 0;
}
