#include "console/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Identities of the regular files this run has opened, for the clash check.
constexpr int RUN_FILE_LIMIT = 8;
static dev_t run_file_devices[RUN_FILE_LIMIT];
static ino_t run_file_inodes[RUN_FILE_LIMIT];
static int run_file_count = 0;

static void remember_file(const struct stat& status) {
    if (!S_ISREG(status.st_mode) || run_file_count == RUN_FILE_LIMIT) return;
    run_file_devices[run_file_count] = status.st_dev;
    run_file_inodes[run_file_count] = status.st_ino;
    run_file_count++;
}

static bool is_run_file(const struct stat& status) {
    if (!S_ISREG(status.st_mode)) return false;
    for (int i = 0; i < run_file_count; i++)
        if (run_file_devices[i] == status.st_dev && run_file_inodes[i] == status.st_ino) return true;
    return false;
}

int open_input(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat status;
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return -1;
    }
    remember_file(status);
    return fd;
}

int create_output(const char* path) {
    // Opened without truncating, so a clash is seen before any byte is lost.
    int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat status;
    bool usable = fstat(fd, &status) == 0 && !is_run_file(status) &&
                  (!S_ISREG(status.st_mode) || ftruncate(fd, 0) == 0);
    if (!usable) {
        close(fd);
        return -1;
    }
    remember_file(status);
    return fd;
}

bool write_all(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = write(fd, next, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool write_and_close(int fd, const void* data, size_t size) {
    bool written = write_all(fd, data, size);
    return close(fd) == 0 && written;
}
