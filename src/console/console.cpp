#include "console/console.h"

#include <csignal>

#include "console/encoding.h"
#include "console/keywait.h"

void start_console() {
    select_output_encoding();
    open_console_input();
    // A closed pipe on an output is a write error the run reports, not a
    // signal that kills it.
    signal(SIGPIPE, SIG_IGN);
}
