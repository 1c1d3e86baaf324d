// The run's files at the system level: opening the input, creating outputs
// that never land on a file the run already uses, and complete writes.
#pragma once

#include <cstddef>

// Opens a file for reading; a directory is refused. Returns -1 on failure.
int open_input(const char* path);

// Creates or truncates a file for writing. An existing regular file that is
// one of the files this run has opened (same device and inode, whatever
// the spelling or link) is refused and keeps its bytes. Returns -1 on
// failure or refusal.
int create_output(const char* path);

// Writes all `size` bytes, in as few calls as the system allows.
bool write_all(int fd, const void* data, size_t size);

// Writes all bytes and closes the file, which is closed in any case; false
// when the write or the close failed.
bool write_and_close(int fd, const void* data, size_t size);
