// The placeholder formatter against a model of its template language, at every capacity:
// the returned length is that of the full result, the stored text is its prefix and always
// terminated, and nothing is written past the capacity or after the terminator.
#include <algorithm>
#include <vector>

#include "foundation/wstr.h"
#include "fuzz_input.h"

namespace {

constexpr char16_t untouched = 0xA5A5;
constexpr size_t guard = 16;

// "%" and a digit stand for that argument (nothing when absent); "%" and any other character
// stand for that character; a lone "%" at the end stands for nothing.
std::u16string expected_result(const std::u16string& text_template,
                               const std::vector<const char16_t*>& arguments, bool null_arguments) {
    std::u16string result;
    for (size_t i = 0; i < text_template.size(); ++i) {
        if (text_template[i] != u'%') {
            result += text_template[i];
        } else if (++i < text_template.size()) {
            const char16_t d = text_template[i];
            if (d < u'0' || d > u'9') {
                result += d;
            } else if (size_t k = d - u'0';
                       !null_arguments && k < arguments.size() && arguments[k] != nullptr) {
                result += arguments[k];
            }
        }
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input input(data, size);
    const uint8_t shape = input.byte();
    const bool null_template = (shape & 1) != 0;
    const bool null_arguments = (shape & 2) != 0;
    const bool capacity_relative = (shape & 4) != 0;
    const uint64_t capacity_number = input.number();
    // Up to 12 arguments: the template reaches ten of them; the others are never used.
    const size_t argument_count = input.byte() % 13;
    std::vector<std::u16string> texts(argument_count);
    std::vector<const char16_t*> arguments(argument_count);
    for (size_t k = 0; k < argument_count; ++k) {
        const bool null_argument = (input.byte() & 1) != 0;
        texts[k] = input.text();
        arguments[k] = null_argument ? nullptr : texts[k].c_str();
    }
    const std::u16string text_template = input.text();
    const char16_t* const* argument_vector = null_arguments ? nullptr : arguments.data();
    const char16_t* template_pointer = null_template ? nullptr : text_template.c_str();

    const std::u16string full =
        expected_result(null_template ? u"" : text_template, arguments, null_arguments);
    const uint64_t measured =
        wstr_format_placeholders(nullptr, 0, template_pointer, argument_vector, argument_count);
    FUZZ_CHECK(measured == full.size() + 1);

    // Around the full length, where cutting and terminating meet, or anywhere up to 4096.
    uint64_t capacity = capacity_number % 4097;
    if (capacity_relative) {
        const int64_t delta = static_cast<int64_t>(capacity_number % 9) - 4;
        capacity = static_cast<uint64_t>(std::max<int64_t>(0, int64_t(measured) + delta));
    }
    std::vector<char16_t> buffer(capacity + guard, untouched);
    const uint64_t length = wstr_format_placeholders(buffer.data(), capacity, template_pointer,
                                                     argument_vector, argument_count);
    FUZZ_CHECK(length == measured);
    if (capacity == 0) {
        for (char16_t unit : buffer) FUZZ_CHECK(unit == untouched);
        return 0;
    }
    const size_t stored = std::min<uint64_t>(full.size(), capacity - 1);
    FUZZ_CHECK(std::u16string(buffer.data(), stored) == full.substr(0, stored));
    FUZZ_CHECK(buffer[stored] == 0);
    for (size_t i = stored + 1; i < buffer.size(); ++i) FUZZ_CHECK(buffer[i] == untouched);
    return 0;
}
