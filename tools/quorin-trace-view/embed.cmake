# Writes the page template into a header as a byte array: cmake -DIN=page.html -DOUT=x.h -P
file(READ ${IN} bytes HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
file(WRITE ${OUT}.tmp
     "// Made from page.html by embed.cmake.\n#pragma once\n#include <string_view>\n"
     "namespace trace_view {\ninline constexpr char page_bytes[] = {${bytes}};\n"
     "inline constexpr std::string_view page_template(page_bytes, sizeof page_bytes);\n}\n")
file(RENAME ${OUT}.tmp ${OUT})
