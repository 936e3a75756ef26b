#include "page_data.h"

#include "utf.h"

namespace trace_view {

namespace {

constexpr std::string_view data_mark = "\"__QUORIN_TRACE_DATA__\"";

void append_escape(std::string& out, char32_t code) {
    static constexpr char digits[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(code >> shift) & 15];
}

}  // namespace

void append_script_safe_string(std::string& out, std::string_view text) {
    // Through UTF-16, which turns every byte that is not UTF-8 into U+FFFD.
    std::u16string wide(utf8_to_utf16(text.data(), text.size(), nullptr, 0), u'\0');
    utf8_to_utf16(text.data(), text.size(), wide.data(), wide.size());
    out += '"';
    for (const char16_t unit : wide) {
        if (unit == u'"' || unit == u'\\') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit < 0x20 || unit == u'<' || unit == u'>' || unit == u'&' || unit == 0x2028 ||
                   unit == 0x2029 || unit >= 0x80) {
            // Past ASCII as escapes too: the page is ASCII, whatever charset a browser assumes.
            append_escape(out, unit);
        } else {
            out += static_cast<char>(unit);
        }
    }
    out += '"';
}

std::string make_page(std::string_view page_template, std::string_view file_name,
                      std::string_view file_text) {
    std::string data = "{\"file\":";
    append_script_safe_string(data, file_name);
    data += ",\"lines\":[";
    bool first = true;
    while (!file_text.empty()) {
        const size_t end = file_text.find('\n');
        std::string_view line = file_text.substr(0, end);
        file_text.remove_prefix(end == std::string_view::npos ? file_text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (!first) data += ',';
        first = false;
        append_script_safe_string(data, line);
    }
    data += "]}";
    std::string page(page_template);
    const size_t mark = page.find(data_mark);
    if (mark != std::string::npos) page.replace(mark, data_mark.size(), data);
    return page;
}

}  // namespace trace_view
