// kordanix FILE_IN FILE_OUT [FILE_OBN [OFS_TO OFS_AFTER]]
// The whole run, in order. Every failure shows one message and ends through
// abandon_run; the exit status is 0 on every path.
#include <cinttypes>
#include <cstdio>

#include "app/command_line.h"
#include "console/abandon.h"
#include "console/console.h"
#include "console/files.h"
#include "console/keywait.h"
#include "console/messages.h"
#include "frames/frames.h"
#include "stats/stats.h"

[[noreturn]] static void fail(const char* text, const char* argument, std::initializer_list<int> open_files) {
    show_message(text, argument);
    abandon_run(open_files);
}

static int read_checked_offset(const char* text, const char* range_text, std::initializer_list<int> open_files) {
    int64_t offset = read_offset(text);
    if (offset < 0 || offset > OFFSET_LIMIT) fail(range_text, nullptr, open_files);
    return static_cast<int>(offset);
}

// Writes a finished file and closes it, or reports it and abandons the run.
static void save(int fd, const void* data, size_t size, const char* path, std::initializer_list<int> open_files) {
    if (!write_and_close(fd, data, size)) fail(TEXT_NOT_WRITTEN, path, open_files);
}

static void save_report(const char* path, const void* data, size_t size) {
    int fd = create_output(path);
    if (fd < 0) fail(TEXT_NOT_OPENED, path, {});
    save(fd, data, size, path, {});
}

static void write_reports() {
    static char table[STAT_TABLE_BYTES];
    static uint32_t waveform[WINDOW_CAPACITY];
    save_report("stat.txt", table, format_stat_table(table));
    compute_waveform(waveform);
    save_report("stat.pcm", waveform, static_cast<size_t>(window_length) * sizeof(uint32_t));
}

int main(int argc, char** argv) {
    start_console();
    run_mode mode = mode_for(argc - 1);
    if (mode == no_mode) {
        show_message(TEXT_USAGE);
        wait_key();
        return 0;
    }
    const char* in_path = argv[1];
    const char* out_path = argv[2];
    const char* obn_path = mode == filter_mode ? nullptr : argv[3];
    int file_in = open_input(in_path);
    if (file_in < 0) fail(TEXT_NOT_OPENED, in_path, {});
    int file_out = create_output(out_path);
    if (file_out < 0) fail(TEXT_NOT_OPENED, out_path, {file_in});
    int file_obn = -1;
    if (obn_path != nullptr && (file_obn = create_output(obn_path)) < 0) fail(TEXT_NOT_OPENED, obn_path, {file_out, file_in});
    int ofs_to = 0, ofs_after = 0;
    if (mode == statistics_mode) {
        ofs_to = read_checked_offset(argv[4], TEXT_OFS_TO_RANGE, {file_out, file_in, file_obn});
        ofs_after = read_checked_offset(argv[5], TEXT_OFS_AFTER_RANGE, {file_out, file_in, file_obn});
    }

    int64_t frames_read = 0;
    load_result loaded = load_frames(file_in, &frames_read);
    if (loaded == load_no_memory) fail(TEXT_NO_MEMORY, out_path, {file_out});
    if (loaded == load_read_failed) fail(TEXT_NOT_READ, in_path, {file_out, file_obn});
    save(file_out, frame_buffer, static_cast<size_t>(kept_count) * sizeof(uint32_t), out_path, {file_obn});

    if (mode == statistics_mode) accumulate_events(ofs_to, ofs_after);  // before the markers overwrite the frames
    if (obn_path != nullptr) {
        make_marker_frames();
        save(file_obn, frame_buffer, static_cast<size_t>(kept_count) * sizeof(uint32_t), obn_path, {});
    }
    if (mode == statistics_mode) write_reports();

    release_frames();
    char count_text[24];
    snprintf(count_text, sizeof count_text, "%" PRId64, kept_count);
    show_message(TEXT_WRITTEN, count_text);
    return 0;
}
