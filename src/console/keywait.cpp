#include "console/keywait.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

// Bytes of one key arrive together; a gap this long ends the key.
constexpr int KEY_TAIL_MS = 50;

static int console_fd = -1;
static struct termios saved_mode;
static const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int ENDING_SIGNAL_COUNT = sizeof ending_signals / sizeof ending_signals[0];
static struct sigaction saved_actions[ENDING_SIGNAL_COUNT];

void open_console_input() {
    console_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

static void restore_and_reraise(int signal_number) {
    tcsetattr(console_fd, TCSANOW, &saved_mode);
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

static void guard_signals() {
    struct sigaction action {};
    action.sa_handler = restore_and_reraise;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < ENDING_SIGNAL_COUNT; i++) sigaction(ending_signals[i], &action, &saved_actions[i]);
}

static void release_signals() {
    for (int i = 0; i < ENDING_SIGNAL_COUNT; i++) sigaction(ending_signals[i], &saved_actions[i], nullptr);
}

// Reads one byte; false on end of input or an error.
static bool read_key_byte() {
    char byte;
    for (;;) {
        ssize_t got = read(console_fd, &byte, 1);
        if (got == 1) return true;
        if (got < 0 && errno == EINTR) continue;
        return false;
    }
}

// Consumes the rest of a key that sends several bytes.
static void drain_key_tail() {
    struct pollfd ready {console_fd, POLLIN, 0};
    char tail[64];
    while (poll(&ready, 1, KEY_TAIL_MS) == 1 && (ready.revents & POLLIN) != 0)
        if (read(console_fd, tail, sizeof tail) <= 0) break;
}

void wait_key() {
    if (console_fd < 0 || tcgetattr(console_fd, &saved_mode) != 0) return;
    struct termios key_mode = saved_mode;
    key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    key_mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    key_mode.c_cc[VMIN] = 1;
    key_mode.c_cc[VTIME] = 0;
    guard_signals();
    if (tcsetattr(console_fd, TCSANOW, &key_mode) == 0 && read_key_byte()) drain_key_tail();
    tcsetattr(console_fd, TCSAFLUSH, &saved_mode);
    release_signals();
}
