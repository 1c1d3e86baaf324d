#include "app/command_line.h"

run_mode mode_for(int argument_count) {
    switch (argument_count) {
    case 2: return filter_mode;
    case 3: return marker_mode;
    case 5: return statistics_mode;
    default: return no_mode;
    }
}

static bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int64_t read_offset(const char* text) {
    constexpr int64_t beyond_int32 = int64_t{1} << 31;
    while (is_space(*text)) text++;
    bool negative = *text == '-';
    if (*text == '+' || *text == '-') text++;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > beyond_int32) value = beyond_int32;
    }
    return negative ? -value : value;
}
