#include "option_report.h"

#include <cstdio>
#include <filesystem>

#include "agent_contract.h"
#include "config/options.h"
#include "config/variable_store.h"
#include "foundation/wstr.h"
#include "logging/logging.h"
#include "platform/platform.h"
#include "utf.h"

std::string utf8(const char16_t* text) {
    if (text == nullptr) return "(null)";
    size_t length = 0;
    while (text[length] != 0) ++length;
    std::string out(utf16_to_utf8(text, length, nullptr, 0), '\0');
    utf16_to_utf8(text, length, out.data(), out.size());
    return out;
}

// The same lookup as the library's: the first variable of that name, then the environment
// variable (set but empty counts), then the default.
option_origin option_origin_of(const char16_t* variable, const char16_t* environment,
                               const char16_t* fallback) {
    option_origin origin;
    const string_list& store = variables_lock_and_read();
    const size_t name_length = wstr_length(variable);
    for (uint64_t i = 0; i < store.count; ++i) {
        if (variable_entry_has_name(store.items[i], variable, name_length)) {
            origin.value = utf8(store.items[i] + name_length + 1);
            origin.source = "variable (--cv_" + utf8(store.items[i]).substr(0, name_length) +
                            " on the command line)";
            break;
        }
    }
    variables_unlock();
    if (!origin.source.empty()) return origin;
    char16_t* value = nullptr;
    switch (platform_env_get(environment, &value)) {
        case platform_env_result::found:
            origin.value = utf8(value);
            origin.source = "environment (" + utf8(environment) + ")";
            platform_heap_release(value);
            return origin;
        case platform_env_result::out_of_memory:
            origin.source = "environment (" + utf8(environment) + ", unreadable: out of memory)";
            return origin;
        case platform_env_result::not_set:
            break;
    }
    origin.value = utf8(fallback);
    origin.source = "default";
    return origin;
}

namespace {

void print_option(const char* name, const option_origin& origin, const std::string& meaning) {
    std::printf("  %-13s '%s'  from %s%s\n", name, origin.value.c_str(), origin.source.c_str(),
                meaning.empty() ? "" : ("  -> " + meaning).c_str());
}

void print_candidates(const options_record& record) {
    std::printf("\nWhere the agent module is looked for, in this order:\n");
    std::printf("  1. %s  (only when a process agent has already loaded it into this process)\n",
                utf8(agent_contract::process_agent_module_name).c_str());
    const char16_t* path = record.agent_library_path;
    if (path == nullptr || path[0] == 0) {
        std::printf("  2. no path: neither agentlibrary nor home is set\n");
        return;
    }
    const std::filesystem::path file(reinterpret_cast<const char16_t*>(path));
    std::error_code error;
    const bool exists = std::filesystem::exists(file, error);
    std::printf("  2. %s  (%s)\n", utf8(path).c_str(),
                exists ? "the file exists" : "the file does not exist");
    if (!file.is_absolute()) {
        std::printf("     this is not an absolute path: the library refuses to search for it\n");
    }
}

}  // namespace

bool print_options() {
    const option_origin active = option_origin_of(u"agentactive", u"CV_AGENTACTIVE", u"true");
    const option_origin library = option_origin_of(u"agentlibrary", u"CV_AGENTLIBRARY", u"");
    const option_origin level = option_origin_of(u"loglevelsdk", u"CV_LOGLEVELSDK", u"");
    const option_origin home = option_origin_of(u"home", u"CV_HOME", u"");

    options_record record{-1, 0, nullptr, {}};
    const uint32_t status = options_resolve(&record);
    std::printf(
        "Options (a variable wins over the environment, the environment over the "
        "default):\n");
    if (status != 0) std::printf("  the options could not be resolved: status 0x%08X\n", status);
    print_option("agentactive", active, record.agent_active ? "active" : "switched off");
    print_option("agentlibrary", library, "");
    print_option("loglevelsdk", level,
                 record.log_level >= 0 ? utf8(logging_level_name(record.log_level))
                 : level.value.empty() ? "not set"
                                       : "not a level name: ignored");
    print_option("home", home, "");
    std::printf("  passed on to the agent:\n");
    for (uint64_t i = 0; i < record.additional_options.count; ++i) {
        char16_t shown[256];
        option_shown(record.additional_options.items[i], shown, sizeof shown / sizeof shown[0]);
        std::printf("    %s\n", utf8(shown).c_str());
    }
    if (record.additional_options.count == 0) std::printf("    (none)\n");
    print_candidates(record);
    const bool is_active = record.agent_active != 0;
    options_reset(&record);
    return is_active;
}
