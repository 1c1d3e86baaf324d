#include "e2e_support.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

temp_dir::temp_dir() {
    char pattern[] = "/tmp/kordanix-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path = made == nullptr ? "/tmp" : made;
}

temp_dir::~temp_dir() {
    std::string command = "rm -rf '" + path + "'";
    if (path != "/tmp" && system(command.c_str()) != 0) ADD_FAILURE() << "cannot remove " << path;
}

static std::string read_all(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
    return text;
}

tool_run run_tool(const std::string& directory, const std::vector<std::string>& arguments,
                  const std::string& input_path, const std::vector<std::string>& environment) {
    char out_name[] = "/tmp/kordanix-out-XXXXXX";
    char err_name[] = "/tmp/kordanix-err-XXXXXX";
    int out_fd = mkstemp(out_name);
    int err_fd = mkstemp(err_name);
    pid_t child = fork();
    if (child == 0) {
        setsid();  // no controlling terminal
        int in_fd = open(input_path.c_str(), O_RDONLY);
        dup2(in_fd, 0);
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        if (chdir(directory.c_str()) != 0) _exit(126);
        for (const std::string& change : environment) {
            size_t equals = change.find('=');
            if (equals == std::string::npos) unsetenv(change.c_str());
            else setenv(change.substr(0, equals).c_str(), change.c_str() + equals + 1, 1);
        }
        alarm(RUN_TIME_LIMIT);  // kept across exec: ends a tool that hangs
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("kordanix"));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(KORDANIX_BINARY, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    tool_run run;
    lseek(out_fd, 0, SEEK_SET);
    lseek(err_fd, 0, SEEK_SET);
    run.output = read_all(out_fd);
    run.errors = read_all(err_fd);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    close(out_fd);
    close(err_fd);
    unlink(out_name);
    unlink(err_name);
    return run;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool file_exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> directory_names(const std::string& path) {
    std::vector<std::string> names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) {
        ADD_FAILURE() << "cannot list " << path;
        return names;
    }
    while (const dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(directory);
    std::sort(names.begin(), names.end());
    return names;
}

std::string frame_bytes(const std::vector<unsigned>& frames) {
    std::string bytes;
    for (unsigned frame : frames)
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((frame >> shift) & 0xFF));
    return bytes;
}

std::string not_opened(const std::string& path) { return "\nне открыт " + path + "\n"; }
std::string not_written(const std::string& path) { return "\nне записан " + path + "\n"; }
std::string not_read(const std::string& path) { return "\nне прочитан " + path + "\n"; }
std::string written(long long count) { return "\nзаписано " + std::to_string(count) + "\n"; }
const char* const USAGE = "\nkordanix.exe FILE_IN FILE_OUT <FILE_OBN> <OFS_TO OFS_AFTER>\n";
