// Text encoding of the terminal: which one it is, conversion of the tool's
// Windows-1251 texts into it, and counting its characters.
#pragma once

#include <cstddef>

// Reads LC_CTYPE from the environment and picks the terminal encoding.
// A locale that cannot show Cyrillic by name (C, POSIX) gets UTF-8.
void select_output_encoding();

// Sets the terminal encoding by name ("UTF-8", "KOI8-R", "CP866", ...).
void use_output_encoding(const char* name);

// Converts `length` Windows-1251 bytes into the terminal encoding, writing
// at most `capacity` bytes to `out`; returns the bytes written. A character
// the terminal encoding lacks becomes "?".
size_t convert_from_cp1251(const char* text, size_t length, char* out, size_t capacity);

// Returns how many bytes of `text` hold its first `max_chars` characters
// in the terminal encoding. A byte that starts no valid character counts
// as one character.
size_t character_prefix(const char* text, size_t length, size_t max_chars);
