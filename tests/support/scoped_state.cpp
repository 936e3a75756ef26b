#include "support/scoped_state.h"

namespace {
std::mutex captured_mutex;
std::vector<log_line> captured;

void capture_callback(int32_t level, const quorin_wchar_t* message) {
    std::lock_guard<std::mutex> lock(captured_mutex);
    captured.push_back({level, to_u16(message)});
}
}  // namespace

std::u16string to_u16(const quorin_wchar_t* text) {
    std::u16string result;
    if (text == nullptr) return result;
    for (; *text != 0; ++text) result.push_back(static_cast<char16_t>(*text));
    return result;
}

const quorin_wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const quorin_wchar_t*>(text);
}

std::string to_narrow(const std::u16string& text) {
    std::string result;
    for (char16_t c : text) result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return result;
}

log_capture::log_capture(int32_t level) {
    clear();
    quorin_stub_set_logging_callback(capture_callback);
    quorin_stub_set_logging_level(level);
}

log_capture::~log_capture() {
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_NONE);
    quorin_stub_set_logging_callback(quorin_stub_default_logging_function);
}

std::vector<log_line> log_capture::lines() const {
    std::lock_guard<std::mutex> lock(captured_mutex);
    return captured;
}

std::vector<std::u16string> log_capture::texts() const {
    std::vector<std::u16string> result;
    for (const log_line& line : lines()) result.push_back(line.text);
    return result;
}

void log_capture::clear() {
    std::lock_guard<std::mutex> lock(captured_mutex);
    captured.clear();
}

void reset_library_state() {
    quorin_stub_set_logging_callback(nullptr);
    while (quorin_shutdown() == QUORIN_STATUS_OK) {
    }
    quorin_stub_free_variables();
    quorin_stub_set_logging_level(QUORIN_LOGLEVEL_NONE);
    quorin_stub_set_logging_callback(quorin_stub_default_logging_function);
}
