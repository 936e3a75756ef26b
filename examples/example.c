/* Calls the API with no agent present and prints what comes back. */
#include <stdio.h>

#include "quorin.h"

static void print_text(const char* label, const quorin_wchar_t* text) {
    printf("%s", label);
    for (; *text != 0; ++text) putchar(*text < 0x80 ? (char)*text : '?');
    putchar('\n');
}

int main(void) {
    quorin_wchar_t text[128];
    char trace_id[33], span_id[17];
    quorin_status_t status = quorin_initialize();
    print_text("quorin_initialize: ", quorin_stub_xstrerror(status, text, 128));
    quorin_handle_t tracer = quorin_incomingwebrequesttracer_create_p(0, "/index.html", "GET");
    printf("incoming web request tracer handle: %llu\n", (unsigned long long)tracer);
    quorin_tracer_start(tracer);
    quorin_incomingwebrequesttracer_set_status_code(tracer, 200);
    quorin_tracer_end(tracer);
    status = quorin_tracecontext_get_current(trace_id, sizeof trace_id, span_id, sizeof span_id);
    printf("trace context: %s / %s\n", trace_id, span_id);
    print_text("quorin_tracecontext_get_current: ", quorin_stub_xstrerror(status, text, 128));
    status = quorin_shutdown();
    print_text("quorin_shutdown: ", quorin_stub_xstrerror(status, text, 128));
    return 0;
}
