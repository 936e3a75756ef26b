// The page of quorin-trace-view: its template with the file's lines put in as data. The lines
// go in as JSON strings that are safe inside an HTML script element whatever they hold: the
// page parses each line itself, so a line that is not JSON spoils only itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trace_view {

// The text as a JSON string literal in which no '<', '>' or '&' appears (they are \u escapes,
// so no "</script>" or "<!--" can end or change the script element), nor U+2028 and U+2029,
// nor control characters; bytes that are not UTF-8 become U+FFFD.
void append_script_safe_string(std::string& out, std::string_view text);

// The page: the template with its data mark replaced by {"file":NAME,"lines":[LINE,...]}.
// Empty lines (and the carriage return of a line that ends in one) are left out.
std::string make_page(std::string_view page_template, std::string_view file_name,
                      std::string_view file_text);

}  // namespace trace_view
