#include "console/messages.h"

#include <cstring>

#include "console/encoding.h"
#include "console/files.h"

// Appends `length` bytes, as many as fit.
static size_t append_raw(char* out, size_t used, const char* bytes, size_t length) {
    size_t room = MESSAGE_BYTES - 1 - used;
    size_t taken = length < room ? length : room;
    memcpy(out + used, bytes, taken);
    return used + taken;
}

static size_t append_converted(char* out, size_t used, const char* text, size_t length) {
    return used + convert_from_cp1251(text, length, out + used, MESSAGE_BYTES - 1 - used);
}

size_t compose_message(const char* text, const char* argument, char* out) {
    const char* slot = strstr(text, "%s");
    if (slot == nullptr) slot = strstr(text, "%d");
    size_t used = 0;
    if (slot == nullptr || argument == nullptr) {
        used = append_converted(out, used, text, strlen(text));
    } else {
        used = append_converted(out, used, text, static_cast<size_t>(slot - text));
        used = append_raw(out, used, argument, strlen(argument));
        used = append_converted(out, used, slot + 2, strlen(slot + 2));
    }
    used = character_prefix(out, used, MESSAGE_LIMIT);
    out[used] = '\0';
    return used;
}

void show_message(const char* text, const char* argument) {
    static char message[MESSAGE_BYTES];
    size_t length = compose_message(text, argument, message);
    write_all(1, message, length);  // a message that cannot be shown is not an error of the run
}
