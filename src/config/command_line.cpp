#include "foundation/wide_text.h"
#include "quorin.h"

namespace {
constexpr char16_t prefix[] = u"--cv_";
constexpr size_t prefix_length = 5;

// Written into the slots that stripping frees: never null, never written, never freed.
constinit quorin_wchar_t empty_filler[1] = {0};

bool has_prefix(const quorin_wchar_t* argument) {
    if (argument == nullptr) return false;
    const char16_t* text = to_internal(argument);
    for (size_t i = 0; i < prefix_length; ++i) {
        if (text[i] != prefix[i]) return false;
    }
    return true;
}
}  // namespace

extern "C" QUORIN_API int32_t quorin_stub_is_sdk_cmdline_arg(const quorin_wchar_t* argument) {
    return has_prefix(argument) ? 1 : 0;
}

extern "C" QUORIN_API quorin_status_t
quorin_stub_process_cmdline_arg(const quorin_wchar_t* argument, int32_t replace) {
    if (!has_prefix(argument)) return QUORIN_STATUS_OK;
    return quorin_stub_set_variable(argument + prefix_length, replace);
}

extern "C" QUORIN_API quorin_status_t quorin_stub_process_cmdline_args(int32_t argc,
                                                                       quorin_wchar_t* const* argv,
                                                                       int32_t replace) {
    if (argc == 0) return QUORIN_STATUS_OK;
    if (argv == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    quorin_status_t result = QUORIN_STATUS_OK;
    for (int32_t i = 1; i < argc; ++i) {
        const quorin_status_t status = quorin_stub_process_cmdline_arg(argv[i], replace);
        if (status != QUORIN_STATUS_OK &&
            (result == QUORIN_STATUS_OK || result == QUORIN_STATUS_ENTRY_EXISTS)) {
            result = status;
        }
    }
    return result;
}

extern "C" QUORIN_API quorin_status_t quorin_stub_strip_sdk_cmdline_args(int32_t* argc,
                                                                         quorin_wchar_t** argv) {
    if (argc == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    if (*argc == 0) return QUORIN_STATUS_OK;
    // A negative count would make the caller's vector unreadable: refuse it unchanged.
    if (argv == nullptr || *argc < 0) return QUORIN_STATUS_INVALID_ARGUMENT;
    int32_t kept = 1;
    for (int32_t i = 1; i < *argc; ++i) {
        if (!has_prefix(argv[i])) argv[kept++] = argv[i];
    }
    for (int32_t i = kept; i < *argc; ++i) argv[i] = empty_filler;
    *argc = kept;
    return QUORIN_STATUS_OK;
}
