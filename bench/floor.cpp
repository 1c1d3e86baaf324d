// floor FILE_IN FILE_OUT KEPT_FRAMES [FILE_OBN]
//
// The least any whole-file run can do: read FILE_IN whole into kordanix's
// own frame buffer (an anonymous mapping advised for huge pages, used as it
// is where the advice is refused), with large reads, then write
// the first KEPT_FRAMES frames to FILE_OUT in one write and, when given, to
// FILE_OBN in another. No filtering: KEPT_FRAMES is known beforehand. The
// benchmark measures kordanix against this.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/files.h"
#include "frames/frames.h"

namespace {

constexpr size_t READ_CHUNK = size_t{1} << 30;

bool read_all(int fd, char* bytes, size_t size) {
    size_t filled = 0;
    while (filled < size) {
        size_t wanted = size - filled < READ_CHUNK ? size - filled : READ_CHUNK;
        ssize_t got = read(fd, bytes + filled, wanted);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        filled += static_cast<size_t>(got);
    }
    return true;
}

bool write_file(const char* path, const void* bytes, size_t size) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd >= 0 && write_and_close(fd, bytes, size);
}

[[noreturn]] void fail(const char* what) {
    perror(what);
    exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    unsigned long long kept = argc == 4 || argc == 5 ? strtoull(argv[3], &end, 10) : 0;
    if ((argc != 4 && argc != 5) || end == argv[3] || *end != '\0') {
        fprintf(stderr, "usage: floor FILE_IN FILE_OUT KEPT_FRAMES [FILE_OBN]\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) fail(argv[1]);
    size_t size = static_cast<size_t>(status.st_size);
    size_t kept_bytes = static_cast<size_t>(kept) * sizeof(uint32_t);
    if (kept_bytes > size) {
        fprintf(stderr, "floor: %llu kept frames do not fit in %s\n", kept, argv[1]);
        return 2;
    }
    size_t frames = size / sizeof(uint32_t);
    if (!allocate_frames(frames)) fail("memory");
    if (frames > 0 && !read_all(fd, reinterpret_cast<char*>(frame_buffer), frames * sizeof(uint32_t))) fail(argv[1]);
    close(fd);
    if (!write_file(argv[2], frame_buffer, kept_bytes)) fail(argv[2]);
    if (argc == 5 && !write_file(argv[4], frame_buffer, kept_bytes)) fail(argv[4]);
    release_frames();
    return 0;
}
