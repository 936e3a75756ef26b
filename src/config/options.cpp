#include "config/options.h"

#include "config/variable_store.h"
#include "foundation/wstr.h"
#include "logging/logging.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

struct option_descriptor {
    const char16_t* variable;
    const char16_t* environment;
    const char16_t* fallback;
};

constexpr option_descriptor agent_active_option{u"agentactive", u"CV_AGENTACTIVE", u"true"};
constexpr option_descriptor agent_library_option{u"agentlibrary", u"CV_AGENTLIBRARY", u""};
constexpr option_descriptor log_level_option{u"loglevelsdk", u"CV_LOGLEVELSDK", u""};
constexpr option_descriptor home_option{u"home", u"CV_HOME", u""};

// "home" is not among them: a home variable also reaches the agent.
constexpr const option_descriptor* known_options[] = {&agent_active_option, &agent_library_option,
                                                      &log_level_option};

agent_home_layout this_platform_layout() {
    return {u"lib64", platform_agent_file_name, platform_paths_use_backslash};
}

// An option's value: borrowed from the store or the defaults, or owned when it came from the
// environment.
class option_value {
  public:
    option_value() = default;
    option_value(const option_value&) = delete;
    option_value& operator=(const option_value&) = delete;
    ~option_value() { platform_heap_release(owned_); }

    // False only when reading the environment ran out of memory.
    bool look_up(const string_list& store, const option_descriptor& option) {
        const size_t name_length = wstr_length(option.variable);
        for (uint64_t i = 0; i < store.count; ++i) {
            if (variable_entry_has_name(store.items[i], option.variable, name_length)) {
                text = store.items[i] + name_length + 1;
                return true;
            }
        }
        switch (platform_env_get(option.environment, &owned_)) {
            case platform_env_result::found:
                text = owned_;
                return true;
            case platform_env_result::not_set:
                text = option.fallback;
                return true;
            case platform_env_result::out_of_memory:
                break;
        }
        return false;
    }

    const char16_t* text = u"";

  private:
    char16_t* owned_ = nullptr;
};

int32_t parse_activity(const char16_t* value) {
    constexpr struct {
        const char16_t* word;
        int32_t active;
    } words[] = {{u"true", 1}, {u"false", 0}, {u"on", 1}, {u"off", 0},
                 {u"yes", 1},  {u"no", 0},    {u"1", 1},  {u"0", 0}};
    const size_t length = wstr_length(value);
    for (const auto& entry : words) {
        if (wstr_length(entry.word) == length && wstr_equal_ignore_case(entry.word, value, length))
            return entry.active;
    }
    return 1;
}

bool is_known_option(const char16_t* entry) {
    for (const option_descriptor* option : known_options) {
        if (variable_entry_has_name(entry, option->variable, wstr_length(option->variable)))
            return true;
    }
    return false;
}

uint32_t resolve_locked(const string_list& store, options_record* record) {
    option_value log_level, active, library, home;
    if (!log_level.look_up(store, log_level_option)) return QUORIN_STATUS_OUT_OF_MEMORY;
    record->log_level = parse_logging_level(log_level.text);
    if (!active.look_up(store, agent_active_option)) return QUORIN_STATUS_OUT_OF_MEMORY;
    record->agent_active = parse_activity(active.text);
    if (!library.look_up(store, agent_library_option)) return QUORIN_STATUS_OUT_OF_MEMORY;
    if (wstr_assign(&record->agent_library_path, library.text) != QUORIN_STATUS_OK)
        return QUORIN_STATUS_OUT_OF_MEMORY;
    if (record->agent_library_path[0] == 0) {
        if (!home.look_up(store, home_option)) return QUORIN_STATUS_OUT_OF_MEMORY;
        if (home.text[0] != 0) {
            const uint32_t derived =
                agent_path_derive(home.text, this_platform_layout(), &record->agent_library_path);
            if (derived != QUORIN_STATUS_OK) return derived;
        }
    }
    for (uint64_t i = 0; i < store.count; ++i) {
        if (is_known_option(store.items[i])) continue;
        const uint32_t appended = string_list_append(&record->additional_options, store.items[i]);
        if (appended != QUORIN_STATUS_OK) return appended;
    }
    return QUORIN_STATUS_OK;
}

}  // namespace

uint32_t options_reset(options_record* record) {
    if (record == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    wstr_release(&record->agent_library_path);
    string_list_free(&record->additional_options);
    record->log_level = -1;
    record->agent_active = 0;
    return QUORIN_STATUS_OK;
}

uint32_t options_resolve(options_record* record) {
    if (record == nullptr) return QUORIN_STATUS_INVALID_ARGUMENT;
    options_reset(record);
    const uint32_t status = resolve_locked(variables_lock_and_read(), record);
    variables_unlock();
    if (status != QUORIN_STATUS_OK) options_reset(record);
    return status;
}

void option_shown(const char16_t* item, char16_t* shown, size_t capacity) {
    if (capacity == 0) return;
    if (variable_entry_has_name(item, u"home", 4) ||
        wstr_equal_ignore_case(item, u"QUORIN_INTERNAL_", 16)) {
        wstr_copy_bounded(shown, item, capacity);
        return;
    }
    static constexpr char16_t hidden[] = u"=***";
    constexpr size_t hidden_length = sizeof hidden / sizeof hidden[0] - 1;
    size_t name_length = 0;
    while (item[name_length] != 0 && item[name_length] != u'=') ++name_length;
    const bool has_value = item[name_length] == u'=';
    const size_t room = capacity - 1;
    const size_t kept = has_value ? (room > hidden_length ? room - hidden_length : 0) : room;
    size_t out = 0;
    for (; out < name_length && out < kept; ++out) shown[out] = item[out];
    for (size_t i = 0; has_value && i < hidden_length && out < room; ++i) shown[out++] = hidden[i];
    shown[out] = 0;
}
