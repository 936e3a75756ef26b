#include "config/options.h"
#include "foundation/wstr.h"
#include "logging/logging.h"
#include "quorin.h"

uint32_t agent_path_derive(const char16_t* home, const agent_home_layout& layout, char16_t** path) {
    const size_t home_length = wstr_length(home);
    const char16_t last = home_length > 0 ? home[home_length - 1] : 0;
    const char16_t* separator = (last == u'/' || last == u'\\') ? u"" : u"/";
    const char16_t* arguments[] = {home, separator, layout.library_folder, layout.file_name};
    constexpr char16_t path_template[] = u"%0%1agent/%2/%3";
    const uint64_t length = wstr_format_placeholders(nullptr, 0, path_template, arguments, 4);
    char16_t* derived = wstr_alloc(length);
    if (derived == nullptr) return QUORIN_STATUS_OUT_OF_MEMORY;
    if (wstr_format_placeholders(derived, length, path_template, arguments, 4) != length) {
        stub_log(QUORIN_LOGLEVEL_SEVERE,
                 u"Environment variables changed while building agent path string.");
        wstr_release(&derived);
        return QUORIN_STATUS_UNEXPECTED_ERROR;
    }
    if (layout.backslash_separators) {
        for (char16_t* c = derived; *c != 0; ++c) {
            if (*c == u'/') *c = u'\\';
        }
    }
    wstr_release(path);
    *path = derived;
    return QUORIN_STATUS_OK;
}
