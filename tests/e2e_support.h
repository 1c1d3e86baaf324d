// Running the built tool in a temporary directory, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

struct tool_run {
    std::string output;  // everything the tool wrote to standard output
    std::string errors;  // everything it wrote to standard error
    int exit_status;     // -1 when it did not exit normally
};

// A fresh temporary directory, removed with everything in it at the end.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Runs the tool with `arguments` in `directory`, in a new session with no
// controlling terminal (so a key wait returns at once), standard input
// from /dev/null unless `input_path` is given. `environment` changes the
// tool's environment: "NAME=value" sets a variable, "NAME" alone removes
// it. A run that has not ended after RUN_TIME_LIMIT seconds is killed, so a
// hanging tool cannot hang the suite.
constexpr unsigned RUN_TIME_LIMIT = 120;
tool_run run_tool(const std::string& directory, const std::vector<std::string>& arguments,
                  const std::string& input_path = "/dev/null",
                  const std::vector<std::string>& environment = {});

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> directory_names(const std::string& path);

// Frames as file bytes, little-endian.
std::string frame_bytes(const std::vector<unsigned>& frames);

// The tool's messages as a UTF-8 terminal shows them.
std::string not_opened(const std::string& path);
std::string not_written(const std::string& path);
std::string not_read(const std::string& path);
std::string written(long long count);
extern const char* const USAGE;
