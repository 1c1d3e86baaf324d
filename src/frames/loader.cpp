#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "frames/frames.h"

// Bytes asked of one read call: large enough that calls cost nothing,
// small enough that the frames just read are still in cache when the keep
// filter goes over them.
constexpr size_t READ_CHUNK = size_t{1} << 18;
// First buffer for a stream of unknown length, in frames; doubled as needed.
constexpr size_t STREAM_START_FRAMES = size_t{1} << 20;

// Whole frames read and filtered so far.
static int64_t frames_filtered = 0;

// Reads into the buffer from byte `filled` up to `limit` bytes or the end
// of the file, filtering each whole frame as it arrives. Returns the bytes
// now filled, or -1 on a read error.
static int64_t read_into_buffer(int fd, size_t filled, size_t limit) {
    char* bytes = reinterpret_cast<char*>(frame_buffer);
    while (filled < limit) {
        size_t wanted = limit - filled < READ_CHUNK ? limit - filled : READ_CHUNK;
        ssize_t got = read(fd, bytes + filled, wanted);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        filled += static_cast<size_t>(got);
        auto whole_frames = static_cast<int64_t>(filled / sizeof(uint32_t));
        keep_flagged(frames_filtered, whole_frames);
        frames_filtered = whole_frames;
    }
    return static_cast<int64_t>(filled);
}

// A regular file is read up to the length it had when opened.
static load_result load_sized(int fd, size_t frames) {
    if (!allocate_frames(frames)) return load_no_memory;
    if (frames > 0 && read_into_buffer(fd, 0, frames * sizeof(uint32_t)) < 0) return load_read_failed;
    return load_done;
}

// A stream is read to its end, the buffer growing as it fills.
static load_result load_stream(int fd) {
    size_t capacity = STREAM_START_FRAMES;
    if (!allocate_frames(capacity)) return load_no_memory;
    size_t filled = 0;
    for (;;) {
        int64_t now = read_into_buffer(fd, filled, capacity * sizeof(uint32_t));
        if (now < 0) return load_read_failed;
        filled = static_cast<size_t>(now);
        if (filled < capacity * sizeof(uint32_t)) return load_done;
        capacity *= 2;
        if (!grow_frames(capacity)) return load_no_memory;
    }
}

load_result load_frames(int fd, int64_t* frames_read) {
    frames_filtered = 0;
    kept_count = 0;
    struct stat status;
    bool sized = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
    load_result result = sized ? load_sized(fd, static_cast<size_t>(status.st_size) / sizeof(uint32_t))
                               : load_stream(fd);
    close(fd);
    *frames_read = frames_filtered;
    return result;
}
