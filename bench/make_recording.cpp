// make_recording FILE BYTES KEEP_FRACTION EVENT_FRACTION SEED
//
// Writes a synthetic recording of BYTES bytes (rounded down to whole
// frames): random samples on both channels, the keep flag on about
// KEEP_FRACTION of the frames and the event flag on about EVENT_FRACTION,
// drawn independently. The same arguments give the same bytes on every
// machine.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "console/files.h"

namespace {

constexpr uint32_t KEEP_FLAG = 0x0001;
constexpr uint32_t EVENT_FLAG = 0x0010;
constexpr size_t BLOCK_FRAMES = size_t{1} << 20;  // 4 MiB written at a time

// splitmix64: tiny state, fast, and well mixed in every bit.
struct random_source {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

// A fraction in [0, 1] as a bound on a 32-bit draw: draw < bound with that
// probability.
bool read_fraction(const char* text, uint64_t* bound) {
    char* end = nullptr;
    double fraction = strtod(text, &end);
    if (end == text || *end != '\0' || !(fraction >= 0.0 && fraction <= 1.0)) return false;
    *bound = static_cast<uint64_t>(fraction * 4294967296.0 + 0.5);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t keep_bound = 0, event_bound = 0;
    char* end = nullptr;
    unsigned long long bytes = argc == 6 ? strtoull(argv[2], &end, 10) : 0;
    if (argc != 6 || end == argv[2] || *end != '\0' || !read_fraction(argv[3], &keep_bound) ||
        !read_fraction(argv[4], &event_bound)) {
        fprintf(stderr, "usage: make_recording FILE BYTES KEEP_FRACTION EVENT_FRACTION SEED\n");
        return 2;
    }
    random_source random{strtoull(argv[5], nullptr, 10)};
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    std::vector<uint32_t> block(BLOCK_FRAMES);
    uint64_t frames_left = bytes / sizeof(uint32_t);
    while (frames_left > 0) {
        size_t count = frames_left < BLOCK_FRAMES ? static_cast<size_t>(frames_left) : BLOCK_FRAMES;
        for (size_t i = 0; i < count; i++) {
            uint64_t samples = random.next();
            uint64_t flags = random.next();
            uint32_t keep = (flags & 0xFFFFFFFFu) < keep_bound ? KEEP_FLAG : 0;
            uint32_t event = (flags >> 32) < event_bound ? EVENT_FLAG : 0;
            block[i] = (static_cast<uint32_t>(samples) & ~(KEEP_FLAG | EVENT_FLAG)) | keep | event;
        }
        // Frames are little-endian on disk, as in memory on the machines the
        // tool runs on.
        if (!write_all(fd, block.data(), count * sizeof(uint32_t))) {
            perror(argv[1]);
            return 1;
        }
        frames_left -= count;
    }
    if (close(fd) != 0) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
