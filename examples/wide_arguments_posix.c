/* The arguments arrive as UTF-8 bytes: decode them into UTF-16. Bytes that are not UTF-8
 * become U+FFFD. */
#include <stdlib.h>
#include <string.h>

#include "wide_arguments.h"

/* Decodes one code point at text[*i], advancing *i. */
static unsigned long decode(const unsigned char* text, size_t* i) {
    const unsigned char lead = text[*i];
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                    : lead >= 0xE0                 ? 3
                    : lead >= 0xC2                 ? 2
                                                   : 0;
    unsigned long code = length == 1   ? lead
                         : length == 2 ? lead & 0x1Fu
                         : length == 3 ? lead & 0x0Fu
                                       : lead & 0x07u;
    size_t k;
    if (length == 0) {
        ++*i;
        return 0xFFFD;
    }
    for (k = 1; k < length; ++k) {
        if ((text[*i + k] & 0xC0) != 0x80) {
            ++*i;
            return 0xFFFD;
        }
        code = (code << 6) | (text[*i + k] & 0x3Fu);
    }
    *i += length;
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0xFFFD;
    }
    return code;
}

static quorin_wchar_t* to_utf16(const char* text) {
    const size_t length = strlen(text);
    /* Never more UTF-16 units than UTF-8 bytes. */
    quorin_wchar_t* out = malloc((length + 1) * sizeof *out);
    size_t i = 0, used = 0;
    if (out == NULL) return NULL;
    while (i < length) {
        const unsigned long code = decode((const unsigned char*)text, &i);
        if (code >= 0x10000) {
            out[used++] = (quorin_wchar_t)(0xD800 + ((code - 0x10000) >> 10));
            out[used++] = (quorin_wchar_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[used++] = (quorin_wchar_t)code;
        }
    }
    out[used] = 0;
    return out;
}

quorin_wchar_t** wide_arguments(int argc, char** argv) {
    quorin_wchar_t** arguments = calloc((size_t)argc + 1, sizeof *arguments);
    int i;
    if (arguments == NULL) return NULL;
    for (i = 0; i < argc; ++i) {
        arguments[i] = to_utf16(argv[i]);
        if (arguments[i] == NULL) {
            wide_arguments_free(i, arguments);
            return NULL;
        }
    }
    return arguments;
}
