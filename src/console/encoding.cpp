#include "console/encoding.h"

#include <cerrno>
#include <clocale>
#include <strings.h>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iconv.h>
#include <langinfo.h>

static char output_encoding[64] = "UTF-8";
static bool output_is_utf8 = true;

static bool names_utf8(const char* name) {
    return strcasecmp(name, "UTF-8") == 0 || strcasecmp(name, "UTF8") == 0;
}

void use_output_encoding(const char* name) {
    snprintf(output_encoding, sizeof output_encoding, "%s", name);
    output_is_utf8 = names_utf8(name);
}

void select_output_encoding() {
    setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    // The C and POSIX locales report plain ASCII, which has no Cyrillic.
    bool ascii_only = codeset == nullptr || *codeset == '\0' ||
                      strcmp(codeset, "ANSI_X3.4-1968") == 0 || strcasecmp(codeset, "ASCII") == 0;
    use_output_encoding(ascii_only ? "UTF-8" : codeset);
}

static iconv_t open_converter() {
    iconv_t converter = iconv_open(output_encoding, "CP1251");
    if (converter == reinterpret_cast<iconv_t>(-1)) converter = iconv_open("UTF-8", "CP1251");
    return converter;
}

size_t convert_from_cp1251(const char* text, size_t length, char* out, size_t capacity) {
    iconv_t converter = open_converter();
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        size_t copied = length < capacity ? length : capacity;
        memcpy(out, text, copied);
        return copied;
    }
    char* in_pos = const_cast<char*>(text);
    size_t in_left = length;
    char* out_pos = out;
    size_t out_left = capacity;
    while (in_left > 0) {
        if (iconv(converter, &in_pos, &in_left, &out_pos, &out_left) != static_cast<size_t>(-1)) break;
        if (errno != EILSEQ && errno != EINVAL) break;  // E2BIG: out of room
        if (out_left == 0) break;
        *out_pos++ = '?';  // a character the terminal encoding cannot show
        out_left--;
        in_pos++;
        in_left--;
    }
    iconv(converter, nullptr, nullptr, &out_pos, &out_left);
    iconv_close(converter);
    return static_cast<size_t>(out_pos - out);
}

// Length of the UTF-8 character at `text`, or 1 when it is not valid.
static size_t utf8_length(const unsigned char* text, size_t left) {
    unsigned char lead = text[0];
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || length > left) return 1;
    for (size_t i = 1; i < length; i++)
        if ((text[i] & 0xC0) != 0x80) return 1;
    return length;
}

static size_t locale_length(const char* text, size_t left, mbstate_t* state) {
    size_t length = mbrlen(text, left, state);
    if (length == 0 || length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2)) {
        memset(state, 0, sizeof *state);
        return 1;
    }
    return length;
}

size_t character_prefix(const char* text, size_t length, size_t max_chars) {
    mbstate_t state{};
    size_t bytes = 0;
    for (size_t chars = 0; chars < max_chars && bytes < length; chars++) {
        const char* at = text + bytes;
        bytes += output_is_utf8 ? utf8_length(reinterpret_cast<const unsigned char*>(at), length - bytes)
                                : locale_length(at, length - bytes, &state);
    }
    return bytes;
}
