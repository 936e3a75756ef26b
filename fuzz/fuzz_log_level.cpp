// The log level parser against a model of the level names, the display names, and the path
// of a message through the log: filtered by level, cut to 1799 characters, never longer.
#include <algorithm>
#include <string>

#include "fuzz_input.h"
#include "logging/logging.h"
#include "quorin.h"

namespace {

constexpr const char16_t* level_names[] = {u"finest",  u"finer",  u"fine",  u"config", u"info",
                                           u"warning", u"severe", u"debug", u"none"};
constexpr size_t longest_message = 1799;

int32_t expected_level(std::u16string text) {
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    while (!text.empty() && blank(text.front())) text.erase(text.begin());
    while (!text.empty() && blank(text.back())) text.pop_back();
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    for (int32_t level = 0; level < 9; ++level) {
        if (text == level_names[level]) return level;
    }
    return -1;
}

std::u16string received;
int32_t received_level;
int received_count;

void capture(int32_t level, const quorin_wchar_t* message) {
    received_level = level;
    received = reinterpret_cast<const char16_t*>(message);
    ++received_count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input input(data, size);
    const auto threshold = static_cast<int32_t>(input.number());
    const auto message_level = static_cast<int32_t>(input.number());
    const std::u16string text = input.text();

    const int32_t level = parse_logging_level(text.c_str());
    FUZZ_CHECK(level == expected_level(text));
    FUZZ_CHECK(parse_logging_level(nullptr) == -1);

    const std::u16string display = logging_level_name(threshold);
    FUZZ_CHECK(display.size() == 7);
    if (threshold >= 0 && threshold <= 8) {
        FUZZ_CHECK(display.starts_with(level_names[threshold]));
        FUZZ_CHECK(expected_level(display) == threshold);
    } else {
        FUZZ_CHECK(display == u"???????");
    }

    quorin_stub_set_logging_callback(capture);
    quorin_stub_set_logging_level(threshold);
    received_count = 0;
    stub_logf(message_level, u"%s", text.c_str());
    const bool emitted = message_level >= threshold;
    FUZZ_CHECK(received_count == (emitted ? 1 : 0));
    if (emitted) {
        FUZZ_CHECK(received_level == message_level);
        FUZZ_CHECK(received == text.substr(0, longest_message));
    }
    received_count = 0;
    stub_log(message_level, text.c_str());
    FUZZ_CHECK(received_count == (emitted ? 1 : 0));
    if (emitted) FUZZ_CHECK(received == text);
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_NONE);
    quorin_stub_set_logging_callback(quorin_stub_default_logging_function);
    return 0;
}
