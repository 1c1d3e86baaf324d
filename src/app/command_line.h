// The command line: the mode chosen by the number of arguments, and the
// reading of the two window offsets.
#pragma once

#include <cstdint>

enum run_mode { no_mode, filter_mode, marker_mode, statistics_mode };

// The mode for this many arguments after the program name.
run_mode mode_for(int argument_count);

// Reads a decimal offset: leading white space, one optional sign, digits
// up to the first non-digit; no digits read as 0. A value past the signed
// 32-bit range reads as one just beyond it, never wrapped into range.
int64_t read_offset(const char* text);
