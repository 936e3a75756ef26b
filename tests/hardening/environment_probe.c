/* Shows what the library makes of the process environment: whether the system runs this
 * process in secure (set-user-id) mode, the option summary the library logs while it
 * initializes, and the status. scripts/test.d/hardening.sh runs it with CV_* variables set,
 * once as it is and once as a set-user-id copy, and compares. POSIX only. */
#include <stdio.h>
#include <sys/auxv.h>

#include "quorin.h"

static void print_line(int32_t level, const quorin_wchar_t* message) {
    (void)level;
    for (; *message != 0; ++message) putchar(*message < 0x80 ? (int)*message : '?');
    putchar('\n');
}

int main(void) {
    printf("secure: %lu\n", getauxval(AT_SECURE));
    quorin_stub_set_logging_callback(print_line);
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_FINEST);
    const quorin_status_t status = quorin_initialize();
    printf("status: %08x\n", (unsigned)status);
    if (status == QUORIN_STATUS_OK) quorin_shutdown();
    return 0;
}
