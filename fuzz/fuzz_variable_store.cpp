// A random sequence of operations on the variable store and the command-line functions,
// checked after every step against a model of the store: same entries in the same order,
// same status, and a failed allocation leaves the store as it was.
#include <string>
#include <vector>

#include "config/variable_store.h"
#include "fuzz_input.h"
#include "platform/platform.h"
#include "quorin.h"

namespace {

using store = std::vector<std::u16string>;

constexpr std::u16string_view prefix = u"--cv_";

bool same_name(const std::u16string& entry, const std::u16string& text, size_t name_length) {
    if (entry.size() <= name_length || entry[name_length] != u'=') return false;
    const auto fold = [](char16_t c) {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    };
    for (size_t i = 0; i < name_length; ++i) {
        if (fold(entry[i]) != fold(text[i])) return false;
    }
    return true;
}

// What setting text does to the model, and the status it reports.
quorin_status_t model_set(store& model, const std::u16string& text, bool replace) {
    if (text.empty()) return QUORIN_STATUS_OK;
    const size_t name_length = text.find(u'=');
    if (name_length == std::u16string::npos) return QUORIN_STATUS_INVALID_ARGUMENT;
    for (std::u16string& entry : model) {
        if (!same_name(entry, text, name_length)) continue;
        if (!replace) return QUORIN_STATUS_ENTRY_EXISTS;
        entry = text;
        return QUORIN_STATUS_OK;
    }
    model.push_back(text);
    return QUORIN_STATUS_OK;
}

bool has_prefix(const std::u16string* argument) {
    return argument != nullptr && argument->starts_with(prefix);
}

store actual_store() {
    store entries;
    const string_list& list = variables_lock_and_read();
    for (uint64_t i = 0; i < list.count; ++i) {
        entries.push_back(list.items[i] != nullptr ? list.items[i] : u"<null entry>");
    }
    variables_unlock();
    return entries;
}

const quorin_wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const quorin_wchar_t*>(text.c_str());
}

// An argument vector as a program receives it: null entries allowed, a null after the last.
struct argument_vector {
    std::vector<std::u16string> texts;
    std::vector<bool> null;
    std::vector<quorin_wchar_t*> pointers;

    explicit argument_vector(fuzz_input& input) {
        const size_t count = input.byte() % 8;
        for (size_t i = 0; i < count; ++i) {
            null.push_back((input.byte() & 3) == 3);
            texts.push_back(input.text());
        }
        for (size_t i = 0; i < count; ++i) {
            pointers.push_back(null[i] ? nullptr
                                       : reinterpret_cast<quorin_wchar_t*>(texts[i].data()));
        }
        pointers.push_back(nullptr);
    }
    const std::u16string* text(size_t i) const { return null[i] ? nullptr : &texts[i]; }
    int32_t count() const { return static_cast<int32_t>(texts.size()); }
};

void process_arguments(fuzz_input& input, store& model) {
    argument_vector arguments(input);
    const bool replace = (input.byte() & 1) != 0;
    const uint8_t count_shape = input.byte() % 4;
    int32_t count = arguments.count();
    if (count_shape == 1) count = 0;
    if (count_shape == 2) count = -count;
    const bool null_vector = count_shape == 3;
    const quorin_status_t status = quorin_stub_process_cmdline_args(
        count, null_vector ? nullptr : arguments.pointers.data(), replace);
    quorin_status_t expected = QUORIN_STATUS_OK;
    if (count != 0 && null_vector) {
        expected = QUORIN_STATUS_INVALID_ARGUMENT;
    } else {
        for (int32_t i = 1; i < count; ++i) {
            if (!has_prefix(arguments.text(i))) continue;
            const quorin_status_t single =
                model_set(model, arguments.text(i)->substr(prefix.size()), replace);
            if (single != QUORIN_STATUS_OK &&
                (expected == QUORIN_STATUS_OK || expected == QUORIN_STATUS_ENTRY_EXISTS)) {
                expected = single;
            }
        }
    }
    FUZZ_CHECK(status == expected);
}

void strip_arguments(fuzz_input& input) {
    argument_vector arguments(input);
    const std::vector<quorin_wchar_t*> before = arguments.pointers;
    int32_t count = arguments.count();
    if ((input.byte() & 3) == 3) count = -count;
    const int32_t old_count = count;
    const quorin_status_t status =
        quorin_stub_strip_sdk_cmdline_args(&count, arguments.pointers.data());
    if (old_count < 0) {
        FUZZ_CHECK(status == QUORIN_STATUS_INVALID_ARGUMENT);
        FUZZ_CHECK(count == old_count && arguments.pointers == before);
        return;
    }
    FUZZ_CHECK(status == QUORIN_STATUS_OK);
    if (old_count == 0) {
        FUZZ_CHECK(count == 0 && arguments.pointers == before);
        return;
    }
    std::vector<quorin_wchar_t*> kept{before[0]};
    for (int32_t i = 1; i < old_count; ++i) {
        if (!has_prefix(arguments.text(i))) kept.push_back(before[i]);
    }
    FUZZ_CHECK(count == static_cast<int32_t>(kept.size()));
    for (int32_t i = 0; i < old_count; ++i) {
        if (i < count) {
            FUZZ_CHECK(arguments.pointers[i] == kept[i]);
        } else {
            // The freed slots hold one shared empty text, never null.
            FUZZ_CHECK(arguments.pointers[i] != nullptr && arguments.pointers[i][0] == 0);
            FUZZ_CHECK(arguments.pointers[i] == arguments.pointers[count]);
        }
    }
    FUZZ_CHECK(arguments.pointers[old_count] == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input input(data, size);
    quorin_stub_free_variables();
    store model;
    while (!input.empty()) {
        const uint8_t operation = input.byte();
        switch (operation % 8) {
            case 0:
            case 1: {  // set, with replace given by the low bit
                const std::u16string text = input.text();
                FUZZ_CHECK(quorin_stub_set_variable(wide(text), operation & 1) ==
                           model_set(model, text, operation & 1));
                break;
            }
            case 2: {  // one command-line argument
                const std::u16string argument = input.text();
                const bool replace = (input.byte() & 1) != 0;
                const quorin_status_t expected =
                    has_prefix(&argument)
                        ? model_set(model, argument.substr(prefix.size()), replace)
                        : QUORIN_STATUS_OK;
                FUZZ_CHECK(quorin_stub_process_cmdline_arg(wide(argument), replace) == expected);
                FUZZ_CHECK(quorin_stub_is_sdk_cmdline_arg(wide(argument)) ==
                           (has_prefix(&argument) ? 1 : 0));
                break;
            }
            case 3:
                process_arguments(input, model);
                break;
            case 4:
                strip_arguments(input);
                break;
            case 5:
                quorin_stub_free_variables();
                model.clear();
                break;
            case 6: {  // a set whose first, second or third allocation fails
                const uint64_t nth = 1 + input.byte() % 3;
                const std::u16string text = input.text();
                const bool replace = (operation & 8) != 0;
                platform_heap_fail_nth(nth);
                const quorin_status_t status = quorin_stub_set_variable(wide(text), replace);
                platform_heap_fail_nth(0);
                if (status != QUORIN_STATUS_OUT_OF_MEMORY) {
                    FUZZ_CHECK(status == model_set(model, text, replace));
                }
                break;
            }
            default:  // null texts are ignored
                FUZZ_CHECK(quorin_stub_set_variable(nullptr, operation & 8) == QUORIN_STATUS_OK);
                FUZZ_CHECK(quorin_stub_process_cmdline_arg(nullptr, 1) == QUORIN_STATUS_OK);
                FUZZ_CHECK(quorin_stub_is_sdk_cmdline_arg(nullptr) == 0);
                break;
        }
        FUZZ_CHECK(actual_store() == model);
    }
    quorin_stub_free_variables();
    return 0;
}
