// Waiting for one key press on the controlling terminal.
#pragma once

// Opens the controlling terminal for the key wait; called once at start.
// Without one, wait_key returns at once.
void open_console_input();

// Waits for one key on the controlling terminal (never standard input) and
// discards it, with the terminal in non-canonical mode without echo or
// signal keys. A key that sends several bytes (arrows, function keys) is
// consumed whole. The terminal mode is restored on return, and also when a
// signal ends the process during the wait.
void wait_key();
