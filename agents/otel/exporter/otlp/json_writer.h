// JSON text written straight into a string, one value after the other: the writer puts the
// commas and colons, escapes strings (control characters, quotes, backslashes; bytes that are
// not UTF-8 become U+FFFD) and writes doubles in their shortest exact form, with NaN and the
// infinities as the strings the protobuf JSON mapping uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace otel {

class json_writer {
  public:
    explicit json_writer(std::string& out) : out_(out) {}

    void begin_object() { open('{'); }
    void end_object() { close('}'); }
    void begin_array() { open('['); }
    void end_array() { close(']'); }
    // The key of the next value in an object.
    void key(std::string_view name) {
        separate();
        out_ += '"';
        out_ += name;  // keys are the encoder's own ASCII names
        out_ += "\":";
        after_key_ = true;
    }
    void string(std::string_view text);
    // A 64-bit integer as a decimal string, as the protobuf JSON mapping writes them.
    void quoted_integer(uint64_t value) { integer_text(value, true); }
    void quoted_integer(int64_t value) { integer_text(value, true); }
    void number(uint64_t value) { integer_text(value, false); }
    void number(double value);
    void boolean(bool value) {
        separate();
        out_ += value ? "true" : "false";
    }
    // Bytes as lower-case hex in a string: trace and span ids.
    void hex(const uint8_t* bytes, size_t size);

  private:
    template <typename integer>
    void integer_text(integer value, bool quoted);
    void separate() {
        if (after_key_) {
            after_key_ = false;
        } else if (need_comma_) {
            out_ += ',';
        }
        need_comma_ = true;
    }
    void open(char bracket) {
        separate();
        out_ += bracket;
        need_comma_ = false;
    }
    void close(char bracket) {
        out_ += bracket;
        need_comma_ = true;
    }

    std::string& out_;
    bool need_comma_ = false;
    bool after_key_ = false;
};

}  // namespace otel
