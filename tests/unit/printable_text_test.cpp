// The texts the recording core takes over from the application: printable ASCII passes in
// runs, everything else is escaped or replaced, wherever it falls in the text.
#include <gtest/gtest.h>

#include <string>

#include "object_record.h"
#include "text.h"

namespace {

using agent_core::append_printable_text;
using agent_core::text_buffer;
using agent_core::text_limit;

struct escape_case {
    const char* byte;  // one byte, or a whole UTF-8 sequence
    const char* printed;
};

TEST(PrintableText, EscapesEachByteWhereverItFallsInTheText) {
    const escape_case cases[] = {
        {" ", " "},
        {"~", "~"},
        {"\x1F", "\\x1F"},
        {"\x7F", "\\x7F"},
        {"\x01", "\\x01"},
        {"\n", "\\n"},
        {"\r", "\\r"},
        {"\t", "\\t"},
        {"\x80", "\xEF\xBF\xBD"},
        {"\xFF", "\xEF\xBF\xBD"},
        {"\xC3\xA9", "\xC3\xA9"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    // Before, at and after the boundaries of the four- and eight-byte words and sixteen-byte
    // blocks the text is scanned in, in texts shorter than a word or a block and in the last
    // word or block, which overlaps the one before it. A record's buffer receives the same.
    for (const escape_case& c : cases) {
        for (size_t at : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 22, 23, 31, 32, 33, 40}) {
            for (size_t length : {0, 1, 2, 3, 4, 5, 6, 9, 15, 23, 31, 32, 40}) {
                if (at > length) continue;
                std::string text(length, 'a'), printed(length, 'a');
                text.insert(at, c.byte);
                printed.insert(at, c.printed);
                std::string out = "[";
                append_printable_text(out, text.c_str());
                EXPECT_EQ(out, "[" + printed) << "byte " << c.printed << " at " << at;
                text_buffer buffer;
                buffer.append("[", 1);
                append_printable_text(buffer, text.c_str());
                EXPECT_EQ(buffer.view(), out) << "byte " << c.printed << " at " << at;
            }
        }
    }
}

TEST(PrintableText, CutsAtTheLimitAndMarksTheCut) {
    const std::string longer(text_limit + 5, 'x');
    std::string out;
    append_printable_text(out, longer.c_str());
    EXPECT_EQ(out, std::string(text_limit, 'x') + "...");
    out.clear();
    append_printable_text(out, longer.substr(0, text_limit).c_str());
    EXPECT_EQ(out, std::string(text_limit, 'x'));
    // A record's buffer grows past its first allocation on the way.
    text_buffer buffer;
    append_printable_text(buffer, "ab");
    append_printable_text(buffer, longer.c_str());
    EXPECT_EQ(buffer.view(), "ab" + std::string(text_limit, 'x') + "...");
}

}  // namespace
