// quorin-doctor [--otel] [--cv_<option>=<value>]...
//
// Shows the options as the library resolves them and where each came from, where the agent
// module is looked for, then initializes with the library's log at the finest level, and
// reports the outcome. Exits 0 only when an agent was bound.
//
// With --otel: the OpenTelemetry agent's settings and a test span and metric sent to its
// collector (otel_report.h). Exits 0 only when both arrived.
#include <cstdio>
#include <cstring>
#include <string>

#include "option_report.h"
#include "otel_report.h"
#include "quorin.h"
#include "wide_arguments.h"

namespace {

void print_log(int32_t level, const quorin_wchar_t* message) {
    static const char* const names[] = {"finest",  "finer",  "fine",  "config", "info",
                                        "warning", "severe", "debug", "none"};
    const char* name = level >= 0 && level <= 8 ? names[level] : "?";
    std::printf("  [%-7s] %s\n", name, utf8(reinterpret_cast<const char16_t*>(message)).c_str());
}

std::string status_text(quorin_status_t status) {
    quorin_wchar_t text[512];
    quorin_stub_xstrerror(status, text, sizeof text / sizeof text[0]);
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", status);
    return std::string(code) + " " + utf8(reinterpret_cast<const char16_t*>(text));
}

void print_extensions() {
    struct extension {
        const char* name;
        quorin_status_t (*enable)();
    };
    const extension extensions[] = {{"span", quorin_ex_api_enable_span},
                                    {"techtype", quorin_ex_api_enable_techtype},
                                    {"tracer_ext", quorin_ex_api_enable_tracer_ext},
                                    {"serverless", quorin_ex_api_enable_serverless}};
    for (const extension& entry : extensions) {
        std::printf("  extension %-10s %s\n", entry.name, status_text(entry.enable()).c_str());
    }
}

int usage() {
    std::printf(
        "usage: quorin-doctor [--otel] [--cv_<option>=<value>]...\n"
        "Shows why an agent is or is not loaded: the options and where they came from, the\n"
        "agent module's location, and the library's log of one initialization.\n"
        "Exits 0 when an agent was bound.\n"
        "--otel: shows why spans and metrics do not reach the collector: the OpenTelemetry\n"
        "agent's settings and where they came from, then one test span and one test metric\n"
        "sent to the collector, with a verdict on each. Exits 0 when both arrived.\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    bool otel = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return usage();
        otel = otel || std::strcmp(argv[i], "--otel") == 0;
    }
    quorin_wchar_t** arguments = wide_arguments(argc, argv);
    if (arguments == nullptr) {
        std::fprintf(stderr, "quorin-doctor: cannot read the command line\n");
        return 2;
    }
    const quorin_status_t parsed = quorin_stub_process_cmdline_args(argc, arguments, 1);
    wide_arguments_free(argc, arguments);
    if (parsed != QUORIN_STATUS_OK) {
        std::printf("The --cv_ arguments could not all be taken: %s\n",
                    status_text(parsed).c_str());
    }

    quorin_stub_version version{};
    quorin_stub_get_version(&version);
    std::printf("quorin %d.%d.%d\n\n", version.major, version.minor, version.patch);
    if (otel) {
        const bool arrived = print_otel_report();
        quorin_stub_free_variables();
        std::printf("\n%s\n", arrived ? "Both arrived: the collector receives what the agent sends."
                                      : "Not everything arrived: see the verdicts above.");
        return arrived ? 0 : 1;
    }
    if (!print_options()) {
        std::printf("\nThe agent is switched off (agentactive): nothing will be loaded.\n");
    }

    // The configured level would otherwise replace the finest level for this run.
    quorin_stub_set_variable(reinterpret_cast<const quorin_wchar_t*>(u"loglevelsdk=finest"), 1);
    quorin_stub_set_logging_callback(print_log);
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_FINEST);
    std::printf("\nInitialization, with the library's log at the finest level:\n");
    const quorin_status_t status = quorin_initialize();

    int32_t found = 0, compatible = 0;
    quorin_stub_get_agent_load_info(&found, &compatible);
    std::printf("\nResult:\n");
    std::printf("  quorin_initialize   %s\n", status_text(status).c_str());
    std::printf("  agent module found  %s\n", found ? "yes" : "no");
    std::printf("  compatible          %s\n", compatible ? "yes" : "no");
    std::printf("  agent version       '%s'\n",
                utf8(reinterpret_cast<const char16_t*>(quorin_agent_get_version_string())).c_str());
    if (status == QUORIN_STATUS_OK) {
        print_extensions();
        std::printf("\nShutdown:\n");
        const quorin_status_t shutdown = quorin_shutdown();
        std::printf("  quorin_shutdown     %s\n", status_text(shutdown).c_str());
    }
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_NONE);
    quorin_stub_free_variables();
    std::printf("\n%s\n", status == QUORIN_STATUS_OK
                              ? "An agent was bound: the application's calls reach it."
                              : "No agent was bound: every call of the application is a no-op.");
    return status == QUORIN_STATUS_OK ? 0 : 1;
}
