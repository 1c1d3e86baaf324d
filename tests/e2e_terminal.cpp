// The key wait on a real terminal. Each test makes a pseudo-terminal whose
// other side is the controlling terminal of a small stand-in for a shell:
// it notes the terminal mode, runs the tool in the foreground, notes the
// mode again once the tool has ended and, when the test says so, reports
// what typed input was left unread on the terminal, as a shell would get it.
// Every wait is bounded; a session that misbehaves is killed whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "e2e_support.h"

extern char** environ;

namespace {

constexpr int PATIENCE_MS = 15000;   // for what must happen; never reached when all is well
constexpr int STILL_WAITING_MS = 500;  // a key wait lasts at least this long without a key
constexpr int LEFTOVER_TENTHS = 3;    // how long the shell listens for unread input

long long now_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Writes all bytes; for the shell side, which has no test framework.
void put(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t wrote = write(fd, next, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        next += wrote;
        size -= static_cast<size_t>(wrote);
    }
}

bool same_mode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

struct session_options {
    bool input_from_dev_null = false;  // the tool's standard input is /dev/null, not the terminal
    bool unusual_mode = false;         // the shell leaves the terminal in a mode no default restores
};

// A mode a tool cannot get back by switching the usual flags on again.
void make_unusual(termios* mode) {
    mode->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOCTL);
    mode->c_iflag |= IXANY;
    mode->c_cc[VEOF] = 0x02;
    mode->c_cc[VMIN] = 4;
    mode->c_cc[VTIME] = 9;
}

// What the shell reports on its pipe, in this order: the tool's process id;
// once the tool has ended, its wait status and the terminal mode before and
// after it; after the go-ahead, the count and bytes of the unread input.
[[noreturn]] void run_shell(const std::string& directory, char** argv, char** envp, const session_options& options,
                            int report, int go) {
    signal(SIGINT, SIG_IGN);  // like a shell: keys typed for the tool must not end it
    signal(SIGQUIT, SIG_IGN);
    signal(SIGTSTP, SIG_IGN);
    termios before;
    if (options.unusual_mode && tcgetattr(0, &before) == 0) {
        make_unusual(&before);
        tcsetattr(0, TCSANOW, &before);
    }
    tcgetattr(0, &before);
    pid_t tool = fork();
    if (tool == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGQUIT, SIG_DFL);
        signal(SIGTSTP, SIG_DFL);
        struct rlimit no_core {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (options.input_from_dev_null) {
            int null = open("/dev/null", O_RDONLY);
            dup2(null, 0);
            close(null);
        }
        if (chdir(directory.c_str()) != 0) _exit(126);
        alarm(RUN_TIME_LIMIT);
        execve(KORDANIX_BINARY, argv, envp);
        _exit(127);
    }
    put(report, &tool, sizeof tool);
    int status = 0;
    while (waitpid(tool, &status, 0) < 0 && errno == EINTR) {
    }
    termios after;
    tcgetattr(0, &after);
    put(report, &status, sizeof status);
    put(report, &before, sizeof before);
    put(report, &after, sizeof after);
    pollfd ready{go, POLLIN, 0};
    char byte;
    if (poll(&ready, 1, PATIENCE_MS) != 1 || read(go, &byte, 1) != 1) _exit(1);
    termios listen = after;
    listen.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    listen.c_cc[VMIN] = 0;
    listen.c_cc[VTIME] = LEFTOVER_TENTHS;
    tcsetattr(0, TCSANOW, &listen);
    char left[256];
    int count = 0;
    ssize_t got;
    while (count < static_cast<int>(sizeof left) && (got = read(0, left + count, sizeof left - count)) > 0)
        count += static_cast<int>(got);
    put(report, &count, sizeof count);
    put(report, left, static_cast<size_t>(count));
    _exit(0);
}

class terminal_session {
public:
    terminal_session(const std::string& directory, const std::vector<std::string>& arguments,
                     session_options options = {}) {
        std::vector<std::string> args{"kordanix"};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : args) argv.push_back(argument.data());
        argv.push_back(nullptr);
        // C locale: the messages come as UTF-8, whatever the test runner's locale.
        std::vector<std::string> env{"LC_ALL=C", "TERM=vt100"};
        for (char** entry = environ; *entry != nullptr; entry++)
            if (strncmp(*entry, "LC_ALL=", 7) != 0 && strncmp(*entry, "TERM=", 5) != 0) env.push_back(*entry);
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);

        int report[2], go[2];
        if (pipe2(report, O_CLOEXEC) != 0 || pipe2(go, O_CLOEXEC) != 0) return;
        shell_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (shell_ == 0) run_shell(directory, argv.data(), envp.data(), options, report[1], go[0]);
        close(report[1]);
        close(go[0]);
        report_ = report[0];
        go_ = go[1];
        if (shell_ < 0) return;
        started_ = receive(&tool_, sizeof tool_, PATIENCE_MS);
    }

    ~terminal_session() {
        if (shell_ > 0) {
            kill(-shell_, SIGKILL);  // the shell and the tool share a process group
            kill(shell_, SIGKILL);
            waitpid(shell_, nullptr, 0);
        }
        for (int fd : {master_, report_, go_})
            if (fd >= 0) close(fd);
    }

    bool started() const { return started_; }
    pid_t tool() const { return tool_; }

    // Everything the terminal has shown, line ends as "\n".
    const std::string& screen() const { return screen_; }

    // Reads the terminal until `text` is on it; false after `limit_ms`.
    bool wait_for_screen(const std::string& text, int limit_ms = PATIENCE_MS) {
        long long deadline = now_ms() + limit_ms;
        while (screen_.find(text) == std::string::npos) {
            long long left = deadline - now_ms();
            if (left <= 0) return false;
            pump(static_cast<int>(left), -1);
        }
        return true;
    }

    // True when the tool has ended within `limit_ms`; then status(),
    // mode_before() and mode_after() hold what the shell saw.
    bool ended_within(int limit_ms) {
        if (ended_) return true;
        long long deadline = now_ms() + limit_ms;
        for (;;) {
            long long left = deadline - now_ms();
            if (left <= 0) return false;
            if (pump(static_cast<int>(left), report_)) break;
        }
        ended_ = receive(&status_, sizeof status_, PATIENCE_MS) && receive(&before_, sizeof before_, PATIENCE_MS) &&
                 receive(&after_, sizeof after_, PATIENCE_MS);
        return ended_;
    }

    int status() const { return status_; }
    const termios& mode_before() const { return before_; }
    const termios& mode_after() const { return after_; }

    void type(const std::string& keys) { put(master_, keys.data(), keys.size()); }

    // The terminal's mode as the tool sees it now.
    bool current_mode(termios* mode) const { return tcgetattr(master_, mode) == 0; }

    // Waits until the tool has switched the terminal to its key mode.
    bool wait_for_key_mode() {
        long long deadline = now_ms() + PATIENCE_MS;
        termios mode;
        while (now_ms() < deadline) {
            if (current_mode(&mode) && (mode.c_lflag & ICANON) == 0) return true;
            pump(10, -1);
        }
        return false;
    }

    // After the tool has ended: the typed input the shell finds unread.
    // Sets *ok to false when the shell did not answer.
    std::string unread_input(bool* ok) {
        *ok = false;
        char go = 'g';
        put(go_, &go, 1);
        long long deadline = now_ms() + PATIENCE_MS;
        while (!readable(report_, 0)) {
            long long left = deadline - now_ms();
            if (left <= 0) return "";
            pump(static_cast<int>(left), report_);
        }
        int count = 0;
        if (!receive(&count, sizeof count, PATIENCE_MS) || count < 0 || count > 256) return "";
        std::string left(static_cast<size_t>(count), '\0');
        if (!receive(left.data(), left.size(), PATIENCE_MS)) return "";
        pump(0, -1);
        *ok = true;
        return left;
    }

private:
    static bool readable(int fd, int limit_ms) {
        pollfd ready{fd, POLLIN, 0};
        return poll(&ready, 1, limit_ms) == 1;
    }

    // Waits up to `limit_ms` for terminal output or for `also` to become
    // readable; takes in the output. True when `also` is readable.
    bool pump(int limit_ms, int also) {
        pollfd fds[2] = {{master_open_ ? master_ : -1, POLLIN, 0}, {also, POLLIN, 0}};
        if (poll(fds, 2, limit_ms) <= 0) return false;
        if (fds[0].revents != 0) {
            char chunk[4096];
            ssize_t got = read(master_, chunk, sizeof chunk);
            if (got > 0) {
                for (ssize_t i = 0; i < got; i++)
                    if (chunk[i] != '\r') screen_.push_back(chunk[i]);
            } else if (got == 0 || errno != EINTR) {
                master_open_ = false;  // the terminal's other side is gone
            }
        }
        return also >= 0 && fds[1].revents != 0;
    }

    bool receive(void* data, size_t size, int limit_ms) {
        char* next = static_cast<char*>(data);
        long long deadline = now_ms() + limit_ms;
        while (size > 0) {
            long long left = deadline - now_ms();
            if (left <= 0 || !readable(report_, static_cast<int>(left))) return false;
            ssize_t got = read(report_, next, size);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            next += got;
            size -= static_cast<size_t>(got);
        }
        return true;
    }

    pid_t shell_ = -1;
    pid_t tool_ = -1;
    int master_ = -1, report_ = -1, go_ = -1;
    bool master_open_ = true, started_ = false, ended_ = false;
    int status_ = 0;
    termios before_{}, after_{};
    std::string screen_;
};

const std::string INPUT = frame_bytes({0xFFFF0001, 0x00000010, 0x12340003});

struct KeyWait : testing::Test {
    temp_dir dir;
    void SetUp() override { write_file(dir.file("in.raw"), INPUT); }
};

// ---------------------------------------------------------------- a failed run waits for one key

struct key_case {
    const char* label;
    std::vector<std::string> arguments;
    std::string message;
    std::string key;
    session_options options;
};

void PrintTo(const key_case& c, std::ostream* out) { *out << c.label; }

struct FailedRun : KeyWait, testing::WithParamInterface<key_case> {};

TEST_P(FailedRun, WaitsForOneKeyAndLeavesTheTerminalAsItFoundIt) {
    const key_case& c = GetParam();
    terminal_session session(dir.path, c.arguments, c.options);
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.wait_for_screen(c.message)) << session.screen();
    EXPECT_FALSE(session.ended_within(STILL_WAITING_MS)) << "ended without a key";
    session.type(c.key);
    ASSERT_TRUE(session.ended_within(PATIENCE_MS)) << "still waiting after the key";
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0) << session.status();
    EXPECT_TRUE(same_mode(session.mode_before(), session.mode_after()));
    bool answered = false;
    EXPECT_EQ(session.unread_input(&answered), "") << "part of the key is left for the shell";
    EXPECT_TRUE(answered);
    EXPECT_EQ(session.screen(), c.message) << "nothing but the message, no echo of the key";
}

const std::vector<std::string> MISSING_INPUT{"missing.raw", "out.raw"};
const std::string NOT_OPENED = not_opened("missing.raw");
const session_options DEV_NULL_INPUT{.input_from_dev_null = true};
const session_options UNUSUAL_MODE{.unusual_mode = true};

INSTANTIATE_TEST_SUITE_P(
    Keys, FailedRun,
    testing::Values(
        key_case{"letter", MISSING_INPUT, NOT_OPENED, "k", {}},
        key_case{"enter", MISSING_INPUT, NOT_OPENED, "\r", {}},
        key_case{"cyrillic_letter", MISSING_INPUT, NOT_OPENED, "ж", {}},
        key_case{"ctrl_c_is_a_key", MISSING_INPUT, NOT_OPENED, "\x03", {}},
        key_case{"ctrl_backslash_is_a_key", MISSING_INPUT, NOT_OPENED, "\x1c", {}},
        key_case{"ctrl_z_is_a_key", MISSING_INPUT, NOT_OPENED, "\x1a", {}},
        key_case{"ctrl_s_is_a_key", MISSING_INPUT, NOT_OPENED, "\x13", {}},
        key_case{"escape", MISSING_INPUT, NOT_OPENED, "\x1b", {}},
        key_case{"arrow_up", MISSING_INPUT, NOT_OPENED, "\x1b[A", {}},
        key_case{"f1", MISSING_INPUT, NOT_OPENED, "\x1bOP", {}},
        key_case{"f5", MISSING_INPUT, NOT_OPENED, "\x1b[15~", {}},
        key_case{"standard_input_from_dev_null", MISSING_INPUT, NOT_OPENED, "k", DEV_NULL_INPUT},
        key_case{"arrow_with_standard_input_from_dev_null", MISSING_INPUT, NOT_OPENED, "\x1b[D", DEV_NULL_INPUT},
        key_case{"unusual_mode_letter", MISSING_INPUT, NOT_OPENED, "q", UNUSUAL_MODE},
        key_case{"unusual_mode_arrow", MISSING_INPUT, NOT_OPENED, "\x1b[B", UNUSUAL_MODE},
        key_case{"usage", {}, USAGE, "k", {}},
        key_case{"range_message_without_line_feed", {"in.raw", "out.raw", "obn.raw", "129", "0"}, "ofs_to 0-128",
                 "\x1b[C", {}}),
    [](const testing::TestParamInfo<key_case>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------- a signal during the wait

struct SignalDuringWait : KeyWait, testing::WithParamInterface<int> {};

TEST_P(SignalDuringWait, EndsTheToolWithTheTerminalModeRestored) {
    int signal_number = GetParam();
    terminal_session session(dir.path, {"in.raw", "out.raw", "obn.raw", "0", "300"}, UNUSUAL_MODE);
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.wait_for_screen("ofs_after 0-128")) << session.screen();
    ASSERT_TRUE(session.wait_for_key_mode()) << "the terminal never left line mode";
    ASSERT_EQ(kill(session.tool(), signal_number), 0);
    ASSERT_TRUE(session.ended_within(PATIENCE_MS)) << "the signal did not end the tool";
    EXPECT_TRUE(WIFSIGNALED(session.status()) && WTERMSIG(session.status()) == signal_number) << session.status();
    EXPECT_TRUE(same_mode(session.mode_before(), session.mode_after()));
}

INSTANTIATE_TEST_SUITE_P(EndingSignals, SignalDuringWait, testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT),
                         [](const testing::TestParamInfo<int>& info) { return std::string(sigabbrev_np(info.param)); });

// ---------------------------------------------------------------- a successful run

TEST_F(KeyWait, SuccessfulRunEndsWithoutAKeyAndLeavesTypedInputToTheShell) {
    terminal_session session(dir.path, {"in.raw", "out.raw"});
    ASSERT_TRUE(session.started());
    ASSERT_TRUE(session.ended_within(PATIENCE_MS)) << "waited after a successful run";
    EXPECT_TRUE(WIFEXITED(session.status()) && WEXITSTATUS(session.status()) == 0) << session.status();
    EXPECT_TRUE(same_mode(session.mode_before(), session.mode_after()));
    session.type("ls");  // typed ahead for the shell
    bool answered = false;
    EXPECT_EQ(session.unread_input(&answered), "ls");
    EXPECT_TRUE(answered);
    EXPECT_EQ(read_file(dir.file("out.raw")), frame_bytes({0xFFFF0001, 0x12340003}));
    EXPECT_TRUE(session.screen().starts_with(written(2))) << session.screen();
}

}  // namespace
