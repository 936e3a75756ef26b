// Option resolution from a random variable store and a random environment, against a model
// of the precedence rules: the log level, the activity, the agent path (given, or derived from
// the home) and the additional options. Resolution with one failed allocation either gives the
// same record or reports out of memory with the record reset.
#include <string>
#include <vector>

#include "config/options.h"
#include "config/variable_store.h"
#include "foundation/wstr.h"
#include "fuzz_input.h"
#include "logging/logging.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

struct option {
    const char16_t* variable;
    const char16_t* environment;
    const char16_t* fallback;
    bool known;  // kept from the additional options
};
constexpr option log_level_option{u"loglevelsdk", u"CV_LOGLEVELSDK", u"", true};
constexpr option active_option{u"agentactive", u"CV_AGENTACTIVE", u"true", true};
constexpr option library_option{u"agentlibrary", u"CV_AGENTLIBRARY", u"", true};
constexpr option home_option{u"home", u"CV_HOME", u"", false};
constexpr const option* all_options[] = {&log_level_option, &active_option, &library_option,
                                         &home_option};

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool equal_ignoring_case(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

bool names(const std::u16string& entry, const option& o) {
    const std::u16string_view name = o.variable;
    return entry.size() > name.size() && entry[name.size()] == u'=' &&
           equal_ignoring_case(std::u16string_view(entry).substr(0, name.size()), name);
}

// The environment as the library reads it.
bool environment(const char16_t* name, std::u16string* value) {
    char16_t* text = nullptr;
    const bool found = platform_env_get(name, &text) == platform_env_result::found;
    if (found) *value = text;
    platform_heap_release(text);
    return found;
}

std::u16string expected_value(const std::vector<std::u16string>& store, const option& o) {
    for (const std::u16string& entry : store) {
        if (names(entry, o)) return entry.substr(std::u16string_view(o.variable).size() + 1);
    }
    std::u16string value;
    return environment(o.environment, &value) ? value : o.fallback;
}

int32_t expected_activity(const std::u16string& value) {
    constexpr const char16_t* inactive[] = {u"false", u"off", u"no", u"0"};
    for (const char16_t* word : inactive) {
        if (equal_ignoring_case(value, word)) return 0;
    }
    return 1;
}

std::u16string expected_path(const std::u16string& home, const char16_t* file, bool backslash) {
    if (home.empty()) return u"";
    const bool ends_in_separator = home.back() == u'/' || home.back() == u'\\';
    std::u16string path = home + (ends_in_separator ? u"" : u"/") + u"agent/lib64/" + file;
    if (backslash) {
        for (char16_t& c : path) {
            if (c == u'/') c = u'\\';
        }
    }
    return path;
}

std::vector<std::u16string> list_entries(const string_list& list) {
    std::vector<std::u16string> entries;
    for (uint64_t i = 0; i < list.count; ++i) entries.push_back(list.items[i]);
    return entries;
}

bool is_reset(const options_record& record) {
    return record.log_level == -1 && record.agent_active == 0 &&
           record.agent_library_path == nullptr && record.additional_options.items == nullptr &&
           record.additional_options.count == 0 && record.additional_options.capacity == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input input(data, size);
    quorin_stub_free_variables();
    const size_t variable_count = input.byte() % 12;
    for (size_t i = 0; i < variable_count; ++i) {
        const std::u16string text = input.text();
        quorin_stub_set_variable(reinterpret_cast<const quorin_wchar_t*>(text.c_str()), 0);
    }
    for (const option* o : all_options) {
        const bool set = (input.byte() & 1) != 0;
        const std::u16string value = input.text();
        platform_env_set(o->environment, set ? value.c_str() : nullptr);
    }
    const uint64_t failing_allocation = 1 + input.byte() % 16;

    std::vector<std::u16string> store;
    const string_list& list = variables_lock_and_read();
    store = list_entries(list);
    variables_unlock();

    options_record record{};
    FUZZ_CHECK(options_resolve(&record) == QUORIN_STATUS_OK);
    FUZZ_CHECK(record.log_level ==
               parse_logging_level(expected_value(store, log_level_option).c_str()));
    FUZZ_CHECK(record.agent_active == expected_activity(expected_value(store, active_option)));
    const std::u16string library = expected_value(store, library_option);
    const std::u16string home = expected_value(store, home_option);
    FUZZ_CHECK(record.agent_library_path != nullptr);
    FUZZ_CHECK(record.agent_library_path ==
               (!library.empty()
                    ? library
                    : expected_path(home, platform_agent_file_name, platform_paths_use_backslash)));
    std::vector<std::u16string> additional;
    for (const std::u16string& entry : store) {
        if (!names(entry, log_level_option) && !names(entry, active_option) &&
            !names(entry, library_option)) {
            additional.push_back(entry);
        }
    }
    FUZZ_CHECK(list_entries(record.additional_options) == additional);

    // The other platform's layout from the same home.
    if (!home.empty()) {
        char16_t* derived = nullptr;
        const agent_home_layout windows{u"lib64", u"kestraneloader.dll", true};
        FUZZ_CHECK(agent_path_derive(home.c_str(), windows, &derived) == QUORIN_STATUS_OK);
        FUZZ_CHECK(derived == expected_path(home, u"kestraneloader.dll", true));
        wstr_release(&derived);
    }

    options_record again{};
    platform_heap_fail_nth(failing_allocation);
    const uint32_t status = options_resolve(&again);
    platform_heap_fail_nth(0);
    if (status == QUORIN_STATUS_OK) {
        FUZZ_CHECK(again.log_level == record.log_level);
        FUZZ_CHECK(again.agent_active == record.agent_active);
        FUZZ_CHECK(std::u16string(again.agent_library_path) == record.agent_library_path);
        FUZZ_CHECK(list_entries(again.additional_options) == additional);
    } else {
        FUZZ_CHECK(status == QUORIN_STATUS_OUT_OF_MEMORY);
        FUZZ_CHECK(is_reset(again));
    }
    options_reset(&again);
    options_reset(&record);
    FUZZ_CHECK(is_reset(record));
    quorin_stub_free_variables();
    return 0;
}
