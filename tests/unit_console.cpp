#include <gtest/gtest.h>

#include <string>

#include "console/encoding.h"
#include "console/messages.h"

namespace {

std::string compose(const char* text, const char* argument) {
    static char out[MESSAGE_BYTES];
    size_t length = compose_message(text, argument, out);
    EXPECT_EQ(out[length], '\0');
    return std::string(out, length);
}

// Each test names the terminal encoding it shows messages in.
struct ConsoleText : testing::Test {
    void TearDown() override { use_output_encoding("UTF-8"); }
};

}  // namespace

TEST_F(ConsoleText, CatalogueReadsAsRussianInUtf8) {
    use_output_encoding("UTF-8");
    struct Case {
        const char* text;
        const char* argument;
        std::string shown;
    } cases[] = {
        {TEXT_NOT_OPENED, "in.raw", "\nне открыт in.raw\n"},
        {TEXT_NO_MEMORY, "out.raw", "\nнет памяти out.raw\n"},
        {TEXT_WRITTEN, "0", "\nзаписано 0\n"},
        {TEXT_NOT_WRITTEN, "/dev/full", "\nне записан /dev/full\n"},
        {TEXT_NOT_READ, "in.raw", "\nне прочитан in.raw\n"},
        {TEXT_OFS_TO_RANGE, nullptr, "ofs_to 0-128"},
        {TEXT_OFS_AFTER_RANGE, nullptr, "ofs_after 0-128"},
        {TEXT_USAGE, nullptr, "\nkordanix.exe FILE_IN FILE_OUT <FILE_OBN> <OFS_TO OFS_AFTER>\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(compose(c.text, c.argument), c.shown);
}

TEST_F(ConsoleText, SingleByteCyrillicTerminals) {
    use_output_encoding("KOI8-R");
    EXPECT_EQ(compose(TEXT_WRITTEN, "7"), "\n\xDA\xC1\xD0\xC9\xD3\xC1\xCE\xCF 7\n");
    use_output_encoding("CP866");
    EXPECT_EQ(compose(TEXT_NOT_OPENED, "a"), "\n\xAD\xA5 \xAE\xE2\xAA\xE0\xEB\xE2 a\n");
}

TEST_F(ConsoleText, TerminalWithoutCyrillicShowsQuestionMarks) {
    use_output_encoding("ISO-8859-1");
    EXPECT_EQ(compose(TEXT_WRITTEN, "3"), "\n???????? 3\n");
}

TEST_F(ConsoleText, ArgumentIsShownLiterallyAndUnconverted) {
    use_output_encoding("KOI8-R");
    // A path is already in the terminal's encoding: its bytes pass as they are.
    EXPECT_EQ(compose(TEXT_NOT_OPENED, "%d%s%n\xC1"), "\n\xCE\xC5 \xCF\xD4\xCB\xD2\xD9\xD4 %d%s%n\xC1\n");
}

TEST_F(ConsoleText, LongMessageKeepsItsFirst1024Characters) {
    use_output_encoding("UTF-8");
    std::string path(2000, 'p');
    std::string shown = compose(TEXT_NOT_OPENED, path.c_str());
    // "\nне открыт " is 11 characters, 19 bytes in UTF-8.
    EXPECT_EQ(shown, "\nне открыт " + std::string(1024 - 11, 'p'));
}

TEST_F(ConsoleText, TruncationNeverSplitsACharacter) {
    use_output_encoding("UTF-8");
    std::string path;
    for (int i = 0; i < 1500; i++) path += "ж";  // 2 bytes each
    std::string shown = compose(TEXT_NOT_OPENED, path.c_str());
    std::string expected = "\nне открыт ";
    for (int i = 0; i < 1024 - 11; i++) expected += "ж";
    EXPECT_EQ(shown, expected);

    std::string four_byte;
    for (int i = 0; i < 1100; i++) four_byte += "\xF0\x9F\x98\x80";
    EXPECT_EQ(compose(TEXT_NOT_OPENED, four_byte.c_str()).size(), 19 + (1024 - 11) * 4u);
}

TEST(CharacterPrefix, CountsUtf8CharactersAndInvalidBytes) {
    use_output_encoding("UTF-8");
    struct Case {
        std::string text;
        size_t max_chars;
        size_t bytes;
    } cases[] = {
        {"abc", 2, 2},
        {"жжж", 2, 4},
        {"a\xF0\x9F\x98\x80" "b", 2, 5},
        {"\xFF\xFE" "a", 2, 2},        // invalid bytes count one each
        {"\xD0" "a", 1, 1},            // a lead byte without its continuation
        {"\xE2\x82", 5, 2},            // a cut-off character at the end
        {"ab", 10, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(character_prefix(c.text.data(), c.text.size(), c.max_chars), c.bytes) << c.text;
    use_output_encoding("KOI8-R");
    EXPECT_EQ(character_prefix("\xC1\xC2\xC3", 3, 2), 2u);
    use_output_encoding("UTF-8");
}
