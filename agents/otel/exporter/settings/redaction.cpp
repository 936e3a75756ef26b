#include "redaction.h"

#include "utf.h"

namespace otel {

std::string printable(std::string_view text) {
    std::u16string units(utf8_to_utf16(text.data(), text.size(), nullptr, 0), u'\0');
    utf8_to_utf16(text.data(), text.size(), units.data(), units.size());
    for (char16_t& unit : units) {
        if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F)) unit = 0xFFFD;
    }
    std::string out(utf16_to_utf8(units.data(), units.size(), nullptr, 0), '\0');
    utf16_to_utf8(units.data(), units.size(), out.data(), out.size());
    return out;
}

std::string redact_url(std::string_view text) {
    const size_t query = text.find_first_of("?#");
    const std::string_view before_query = text.substr(0, query);
    const size_t scheme_end = before_query.find("://");
    const size_t authority = scheme_end == std::string_view::npos ? 0 : scheme_end + 3;
    // The last '@': a password may hold '/' or '@' itself, so the user info cannot be told
    // from a path by the first '/'.
    const size_t at = before_query.rfind('@');
    std::string out;
    if (at != std::string_view::npos && at >= authority) {
        out.append(before_query.substr(0, authority)).append("***").append(before_query.substr(at));
    } else {
        out.append(before_query);
    }
    if (query != std::string_view::npos) out.append(1, text[query]).append("***");
    return printable(out);
}

std::string describe_item(size_t position, std::string_view shown_key) {
    std::string out = "item " + std::to_string(position);
    if (!shown_key.empty()) out.append(" (key '").append(printable(shown_key)).append("')");
    return out;
}

}  // namespace otel
