// quorin-trace-view FILE [-o PAGE]
//
// Turns a file of OTLP JSON lines (the OpenTelemetry agent's otel_file) into one self-contained
// HTML page (PAGE, trace.html unless given): a waterfall of each trace, the service and
// resource, each span's attributes and events on click, and the metrics as small tables. The
// page loads nothing from anywhere.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "page_data.h"
#include "page_template.h"
#include "wide_arguments.h"

namespace {

std::filesystem::path path_of(const quorin_wchar_t* argument) {
    return std::filesystem::path(std::u16string(reinterpret_cast<const char16_t*>(argument)));
}

int usage() {
    std::fputs("usage: quorin-trace-view FILE [-o PAGE]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    quorin_wchar_t** arguments = wide_arguments(argc, argv);
    if (arguments == nullptr) return 1;
    std::filesystem::path input, output = "trace.html";
    bool have_input = false;
    for (int i = 1; i < argc; ++i) {
        const std::u16string argument(reinterpret_cast<const char16_t*>(arguments[i]));
        if (argument == u"-o" && i + 1 < argc) {
            output = path_of(arguments[++i]);
        } else if (!have_input && !argument.empty() && argument[0] != u'-') {
            input = path_of(arguments[i]);
            have_input = true;
        } else {
            wide_arguments_free(argc, arguments);
            return usage();
        }
    }
    wide_arguments_free(argc, arguments);
    if (!have_input) return usage();

    std::ifstream in(input, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        std::fprintf(stderr, "quorin-trace-view: cannot read %s\n",
                     reinterpret_cast<const char*>(input.u8string().c_str()));
        return 1;
    }
    const std::string page = trace_view::make_page(
        trace_view::page_template,
        reinterpret_cast<const char*>(input.filename().u8string().c_str()), text.str());
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << page;
    out.close();
    if (!out) {
        std::fprintf(stderr, "quorin-trace-view: cannot write %s\n",
                     reinterpret_cast<const char*>(output.u8string().c_str()));
        return 1;
    }
    std::printf("%s\n", reinterpret_cast<const char*>(output.u8string().c_str()));
    return 0;
}
