// Uses the installed library from C++: the header compiles as C++ and links, the command-line
// functions take a wide argument vector, and the extension API answers without an agent.
#include <cstdio>
#include <iterator>

#include "quorin.h"

namespace {

int failures = 0;

void expect(bool condition, const char* what) {
    if (!condition) {
        std::printf("consumer_cpp: wrong: %s\n", what);
        ++failures;
    }
}

// A wide text as the library's character type, which differs per platform.
template <size_t n>
struct wide_text {
    quorin_wchar_t text[n];
    explicit wide_text(const char (&ascii)[n]) {
        for (size_t i = 0; i < n; ++i) text[i] = static_cast<quorin_wchar_t>(ascii[i]);
    }
};

}  // namespace

int main() {
    wide_text program("consumer");
    wide_text active("--cv_agentactive=false");
    wide_text other("--verbose");
    quorin_wchar_t* argv[] = {program.text, active.text, other.text};
    int32_t argc = static_cast<int32_t>(std::size(argv));

    expect(quorin_stub_is_sdk_cmdline_arg(active.text) == 1, "is an sdk argument");
    expect(quorin_stub_process_cmdline_args(argc, argv, 1) == QUORIN_STATUS_OK, "process args");
    expect(quorin_stub_strip_sdk_cmdline_args(&argc, argv) == QUORIN_STATUS_OK && argc == 2 &&
               argv[1] == other.text,
           "strip args");
    expect(quorin_initialize_2(5) == QUORIN_STATUS_AGENT_NOT_ACTIVE, "initialize switched off");
    expect(quorin_ex_api_enable_span() == QUORIN_STATUS_NOT_INITIALIZED, "enable span");
    expect(quorin_ex_spantracer_create(1) == 0, "unbound span");
    expect(quorin_integercountermetric_create_p("g", "k", "u") == 0, "unbound metric");
    int32_t found = -1, compatible = -1;
    quorin_stub_get_agent_load_info(&found, &compatible);
    expect(found == 0 && compatible == 0, "load info");
    quorin_stub_free_variables();

    std::printf("consumer_cpp: %s\n", failures == 0 ? "ok" : "FAILED");
    return failures == 0 ? 0 : 1;
}
