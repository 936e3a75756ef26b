/* Uses the installed library from C: version, configuration, an initialization the options
 * switch off, and the API's answers without an agent. Exits 0 when every answer is right. */
#include <stdio.h>

#include "quorin.h"

static int failures = 0;

static void expect(int condition, const char* what) {
    if (!condition) {
        printf("consumer_c: wrong: %s\n", what);
        ++failures;
    }
}

int main(void) {
    static const quorin_wchar_t switched_off[] = {'a', 'g', 'e', 'n', 't', 'a', 'c', 't',
                                                  'i', 'v', 'e', '=', 'o', 'f', 'f', 0};
    quorin_stub_version version = {0, 0, 0};
    quorin_wchar_t text[64];
    char trace_id[33];
    char span_id[17];
    quorin_stub_get_version(&version);
    expect(version.major == 1 && version.minor == 7 && version.patch == 1, "stub version");

    expect(quorin_stub_set_variable(switched_off, 1) == QUORIN_STATUS_OK, "set variable");
    expect(quorin_initialize() == QUORIN_STATUS_AGENT_NOT_ACTIVE, "initialize switched off");
    quorin_stub_xstrerror(QUORIN_STATUS_AGENT_NOT_ACTIVE, text, 64);
    expect(text[0] == 'A' && text[16] == '.' && text[17] == 0, "status text");

    expect(quorin_incomingwebrequesttracer_create_p(0, "/", "GET") == 0, "unbound create");
    expect(quorin_agent_get_current_state() == 3, "unbound state");
    expect(quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id) ==
               QUORIN_STATUS_NOT_INITIALIZED,
           "unbound trace context");
    expect(trace_id[0] == '0' && trace_id[32] == 0 && span_id[15] == '0', "zero trace context");
    expect(quorin_shutdown() == QUORIN_STATUS_NOT_INITIALIZED, "shutdown without agent");
    quorin_stub_free_variables();

    printf("consumer_c: %s\n", failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}
