// An OTLP span's texts and attributes: texts of every length copied whole, across the growth
// of its buffers, and the same again once it is cleared and reused.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "otlp_model.h"

namespace {

TEST(OtlpSpan, TextsOfEveryLengthSurviveGrowthAndReuse) {
    const size_t lengths[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 300};
    auto text_of = [](size_t length, char first) {
        std::string text(length, ' ');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>(first + i % 26);
        return text;
    };
    otel::otlp_span span;
    span.limits.attributes = 1000;
    for (int round = 0; round < 2; ++round) {
        span.clear();
        span.set_name(text_of(19, 'n'));
        for (size_t key : lengths) {
            for (size_t value : lengths) span.add_attribute(text_of(key, 'a'), text_of(value, 'A'));
        }
        char* key = span.add_attribute_writing_key(5, text_of(33, 'A'));
        ASSERT_NE(key, nullptr);
        std::memcpy(key, "typed", 5);
        ASSERT_EQ(span.attributes().size(), std::size(lengths) * std::size(lengths) + 1);
        size_t index = 0;
        for (size_t key_length : lengths) {
            for (size_t value_length : lengths) {
                const otel::attribute& a = span.attributes()[index++];
                EXPECT_EQ(span.text(a.key), text_of(key_length, 'a')) << key_length;
                EXPECT_EQ(span.text(a.text), text_of(value_length, 'A')) << value_length;
            }
        }
        EXPECT_EQ(span.text(span.attributes()[index].key), "typed");
        EXPECT_EQ(span.text(span.attributes()[index].text), text_of(33, 'A'));
        EXPECT_EQ(span.name(), text_of(19, 'n'));
    }
}

}  // namespace
