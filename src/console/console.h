// Starting the console layer: the terminal encoding, the terminal for the
// key wait, and a broken pipe that must not end the run.
#pragma once

void start_console();
