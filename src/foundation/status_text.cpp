#include "foundation/wide_text.h"
#include "foundation/wstr.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

struct status_text {
    quorin_status_t status;
    const char16_t* text;
};

constexpr status_text own_texts[] = {
    {QUORIN_STATUS_OK, u"The operation completed successfully."},
    {QUORIN_STATUS_GENERIC_ERROR, u"Generic error."},
    {QUORIN_STATUS_INVALID_ARGUMENT, u"Invalid argument."},
    {QUORIN_STATUS_NOT_IMPLEMENTED, u"Function not implemented."},
    {QUORIN_STATUS_NOT_INITIALIZED, u"Not initialized."},
    {QUORIN_STATUS_OUT_OF_MEMORY, u"Out of memory."},
    {QUORIN_STATUS_AGENT_NOT_ACTIVE, u"Agent not active."},
    {QUORIN_STATUS_AGENT_LOAD_FAILED, u"Could not load agent."},
    {QUORIN_STATUS_INVALID_AGENT_BINARY, u"Invalid agent binary."},
    {QUORIN_STATUS_UNEXPECTED_ERROR, u"Unexpected error."},
    {QUORIN_STATUS_ENTRY_EXISTS, u"The entry already exists."},
    {QUORIN_STATUS_FEATURE_LEVEL_UNSUPPORTED, u"Feature level not supported."},
    {QUORIN_STATUS_INTERFACE_UNSUPPORTED, u"Interface not supported."},
    {QUORIN_STATUS_FORK_CHILD, u"This process is a fork child."},
    {QUORIN_STATUS_OK_NO_DATA,
     u"The operation completed without error, but there was no data to return."},
};

// System texts are looked up in at most this many characters.
constexpr size_t system_text_limit = 65535;

const char16_t* own_text(quorin_status_t status) {
    for (const status_text& entry : own_texts) {
        if (entry.status == status) return entry.text;
    }
    return nullptr;
}

}  // namespace

extern "C" QUORIN_API quorin_wchar_t* quorin_stub_xstrerror(quorin_status_t status,
                                                            quorin_wchar_t* buffer,
                                                            size_t capacity) {
    if (capacity == 0 || buffer == nullptr) return buffer;
    char16_t* out = to_internal(buffer);
    if (capacity == 1) {
        out[0] = 0;
        return buffer;
    }
    if (const char16_t* text = own_text(status)) {
        wstr_copy_bounded(out, text, capacity);
        return buffer;
    }
    const size_t limit = capacity < system_text_limit ? capacity : system_text_limit;
    const size_t written = platform_system_error_text(status, out, limit);
    if (written > 0 && out[0] != 0) {
        for (size_t i = written; i > 0 && (out[i - 1] == u'\r' || out[i - 1] == u'\n'); --i) {
            out[i - 1] = 0;
        }
        return buffer;
    }
    wstr_copy_bounded(out, u"Unknown error.", limit);
    return buffer;
}
