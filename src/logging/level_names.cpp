#include "foundation/wstr.h"
#include "logging/logging.h"

namespace {

struct level_name {
    const char16_t* name;
    const char16_t* display;
};

constexpr level_name level_names[] = {
    {u"finest", u"finest "}, {u"finer", u"finer  "}, {u"fine", u"fine   "},
    {u"config", u"config "}, {u"info", u"info   "},  {u"warning", u"warning"},
    {u"severe", u"severe "}, {u"debug", u"debug  "}, {u"none", u"none   "},
};
constexpr int32_t level_count = sizeof level_names / sizeof level_names[0];

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

}  // namespace

const char16_t* logging_level_name(int32_t level) {
    return level >= 0 && level < level_count ? level_names[level].display : u"???????";
}

int32_t parse_logging_level(const char16_t* text) {
    if (text == nullptr) return -1;
    while (is_blank(*text)) ++text;
    size_t length = wstr_length(text);
    while (length > 0 && is_blank(text[length - 1])) --length;
    if (length == 0) return -1;
    for (int32_t level = 0; level < level_count; ++level) {
        const char16_t* name = level_names[level].name;
        if (wstr_length(name) == length && wstr_equal_ignore_case(name, text, length)) {
            return level;
        }
    }
    return -1;
}
