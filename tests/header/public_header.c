/* Compiled as C99 with -pedantic: the public header must be usable from C. */
#include "quorin.h"

int public_header_is_c(void) {
    quorin_wchar_t buffer[32];
    quorin_stub_version version;
    quorin_stub_get_version(&version);
    quorin_stub_xstrerror(QUORIN_STATUS_OK, buffer, sizeof buffer / sizeof buffer[0]);
    return version.major + (quorin_tracer_get_outgoing_corvantis_string_tag(0, 0, 0, 0) != 0);
}
