// The tool's message catalogue and the one routine that shows a message.
#pragma once

#include <cstddef>

// Texts are stored as Windows-1251 bytes and converted when shown.
#define TEXT_NOT_OPENED "\n\xED\xE5 \xEE\xF2\xEA\xF0\xFB\xF2 %s\n"             // "не открыт"
#define TEXT_OFS_TO_RANGE "ofs_to 0-128"
#define TEXT_OFS_AFTER_RANGE "ofs_after 0-128"
#define TEXT_USAGE "\nkordanix.exe FILE_IN FILE_OUT <FILE_OBN> <OFS_TO OFS_AFTER>\n"
#define TEXT_NO_MEMORY "\n\xED\xE5\xF2 \xEF\xE0\xEC\xFF\xF2\xE8 %s\n"          // "нет памяти"
#define TEXT_WRITTEN "\n\xE7\xE0\xEF\xE8\xF1\xE0\xED\xEE %d\n"                 // "записано"
#define TEXT_NOT_WRITTEN "\n\xED\xE5 \xE7\xE0\xEF\xE8\xF1\xE0\xED %s\n"        // "не записан"
#define TEXT_NOT_READ "\n\xED\xE5 \xEF\xF0\xEE\xF7\xE8\xF2\xE0\xED %s\n"       // "не прочитан"

constexpr size_t MESSAGE_LIMIT = 1024;  // characters kept of a composed message

// Composes a catalogue text: its first %s or %d is replaced by `argument`
// byte for byte (it is already in the terminal's encoding), the rest is
// converted from Windows-1251. Keeps at most MESSAGE_LIMIT characters and
// never cuts a character in half. Writes into `out` (room for
// MESSAGE_BYTES) and returns the number of bytes.
constexpr size_t MESSAGE_BYTES = MESSAGE_LIMIT * 16 + 1;
size_t compose_message(const char* text, const char* argument, char* out);

// Composes the text and writes it to standard output unbuffered.
void show_message(const char* text, const char* argument = nullptr);
