#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/scoped_state.h"

namespace {

constexpr auto guard = static_cast<quorin_wchar_t>(0xBEEF);
constexpr size_t system_text_limit = 65535;
constexpr quorin_status_t file_not_found = 2;

struct guarded_buffer {
    explicit guarded_buffer(size_t size) : units(size, guard) {}
    quorin_wchar_t* data() { return units.data(); }
    std::u16string text() const { return to_u16(units.data()); }
    // Index of the first unit in [from, to) that differs from value, or to if none does.
    size_t first_not(quorin_wchar_t value, size_t from, size_t to) const {
        for (size_t i = from; i < to; ++i) {
            if (units[i] != value) return i;
        }
        return to;
    }
    size_t first_not_guard(size_t from) const { return first_not(guard, from, units.size()); }

    std::vector<quorin_wchar_t> units;
};

// The platform's own text for a code, exactly as the system gives it (no trimming).
std::u16string raw_system_text(quorin_status_t code) {
    std::vector<char16_t> buffer(4096, 0);
    const size_t written = platform_system_error_text(code, buffer.data(), buffer.size());
    return std::u16string(buffer.data(), written);
}

std::u16string without_line_breaks(std::u16string text) {
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
    return text;
}

struct own_code {
    quorin_status_t status;
    std::u16string text;
};

const own_code own_codes[] = {
    {0, u"The operation completed successfully."},
    {0xAFFE0001, u"Generic error."},
    {0xAFFE0002, u"Invalid argument."},
    {0xAFFE0003, u"Function not implemented."},
    {0xAFFE0004, u"Not initialized."},
    {0xAFFE0005, u"Out of memory."},
    {0xAFFE0006, u"Agent not active."},
    {0xAFFE0007, u"Could not load agent."},
    {0xAFFE0008, u"Invalid agent binary."},
    {0xAFFE0009, u"Unexpected error."},
    {0xAFFE000A, u"The entry already exists."},
    {0xAFFE000B, u"Feature level not supported."},
    {0xAFFE000C, u"Interface not supported."},
    {0xAFFE000D, u"This process is a fork child."},
    {0xAFFE000E, u"The operation completed without error, but there was no data to return."},
};

// Codes next to and far from the own range for which neither system has a text.
const quorin_status_t codes_without_text[] = {0xAFFE0000, 0xAFFE000F, 0xFFFFFFFF};

// An own code, a system code with a text, and one without.
const quorin_status_t one_of_each_kind[] = {0xAFFE0002, file_not_found, 0xAFFE000F};

}  // namespace

TEST(StatusText, NothingIsWrittenWithoutABufferOrCapacity) {
    for (quorin_status_t status : one_of_each_kind) {
        SCOPED_TRACE(status);
        guarded_buffer buffer(16);
        EXPECT_EQ(quorin_stub_xstrerror(status, buffer.data(), 0), buffer.data());
        EXPECT_EQ(buffer.first_not_guard(0), 16u);
        for (size_t capacity : {size_t{0}, size_t{1}, size_t{100}, size_t{70000}}) {
            EXPECT_EQ(quorin_stub_xstrerror(status, nullptr, capacity), nullptr);
        }
    }
}

TEST(StatusText, CapacityOneGivesTheEmptyTextForEveryKindOfCode) {
    for (quorin_status_t status : one_of_each_kind) {
        SCOPED_TRACE(status);
        guarded_buffer buffer(8);
        EXPECT_EQ(quorin_stub_xstrerror(status, buffer.data(), 1), buffer.data());
        EXPECT_EQ(buffer.units[0], 0);
        EXPECT_EQ(buffer.first_not_guard(1), 8u);
    }
}

TEST(StatusText, OwnCodesGiveTheirTextZeroFilledUpToTheCapacity) {
    for (const own_code& code : own_codes) {
        SCOPED_TRACE(to_narrow(code.text));
        guarded_buffer buffer(140);
        EXPECT_EQ(quorin_stub_xstrerror(code.status, buffer.data(), 128), buffer.data());
        EXPECT_EQ(buffer.text(), code.text);
        EXPECT_EQ(buffer.first_not(0, code.text.size(), 128), 128u) << "zero fill";
        EXPECT_EQ(buffer.first_not_guard(128), 140u);
    }
}

TEST(StatusText, OwnTextsAreCutToCapacityMinusOne) {
    for (const own_code& code : own_codes) {
        SCOPED_TRACE(to_narrow(code.text));
        const size_t length = code.text.size();

        guarded_buffer exact(length + 4);
        quorin_stub_xstrerror(code.status, exact.data(), length + 1);
        EXPECT_EQ(exact.text(), code.text);
        EXPECT_EQ(exact.first_not_guard(length + 1), length + 4);

        guarded_buffer short_by_one(length + 4);
        quorin_stub_xstrerror(code.status, short_by_one.data(), length);
        EXPECT_EQ(short_by_one.text(), code.text.substr(0, length - 1));
        EXPECT_EQ(short_by_one.first_not_guard(length), length + 4);
    }

    guarded_buffer buffer(12);
    quorin_stub_xstrerror(QUORIN_STATUS_INVALID_ARGUMENT, buffer.data(), 8);
    EXPECT_EQ(buffer.text(), u"Invalid");
    EXPECT_EQ(buffer.first_not_guard(8), 12u);
}

TEST(StatusText, CodesWithoutSystemTextGiveUnknownError) {
    for (quorin_status_t status : codes_without_text) {
        SCOPED_TRACE(status);
        guarded_buffer buffer(48);
        EXPECT_EQ(quorin_stub_xstrerror(status, buffer.data(), 40), buffer.data());
        EXPECT_EQ(buffer.text(), u"Unknown error.");
        EXPECT_EQ(buffer.first_not(0, 14, 40), 40u) << "zero fill";
        EXPECT_EQ(buffer.first_not_guard(40), 48u);

        guarded_buffer short_buffer(8);
        quorin_stub_xstrerror(status, short_buffer.data(), 5);
        EXPECT_EQ(short_buffer.text(), u"Unkn");
        EXPECT_EQ(short_buffer.first_not_guard(5), 8u);
    }
}

TEST(StatusText, SystemCodesGiveTheSystemTextWithoutLineBreaks) {
    for (quorin_status_t status : {file_not_found, quorin_status_t{5}, quorin_status_t{13}}) {
        SCOPED_TRACE(status);
        const std::u16string raw = raw_system_text(status);
        ASSERT_FALSE(raw.empty()) << "the system has a text for this code";
        if (QUORIN_TEST_WINDOWS) {
            ASSERT_EQ(raw.substr(raw.size() - 2), u"\r\n") << "system texts end in CR LF";
        }
        const std::u16string expected = without_line_breaks(raw);

        guarded_buffer buffer(1024);
        EXPECT_EQ(quorin_stub_xstrerror(status, buffer.data(), 1000), buffer.data());
        EXPECT_EQ(buffer.text(), expected);
        EXPECT_NE(buffer.text(), u"Unknown error.");
        EXPECT_EQ(buffer.first_not_guard(1000), 1024u);
    }
    if (!QUORIN_TEST_WINDOWS) {
        guarded_buffer buffer(64);
        quorin_stub_xstrerror(file_not_found, buffer.data(), 64);
        EXPECT_EQ(buffer.text(), u"No such file or directory");
    }
}

TEST(StatusText, SystemTextThatDoesNotFitGivesTheCutFallback) {
    const std::u16string raw = raw_system_text(file_not_found);
    ASSERT_GT(raw.size(), 5u);

    guarded_buffer tiny(8);
    quorin_stub_xstrerror(file_not_found, tiny.data(), 5);
    EXPECT_EQ(tiny.text(), u"Unkn");
    EXPECT_EQ(tiny.first_not_guard(5), 8u);

    // The system text with its line break needs raw.size() + 1 positions.
    guarded_buffer fits(raw.size() + 4);
    quorin_stub_xstrerror(file_not_found, fits.data(), raw.size() + 1);
    EXPECT_EQ(fits.text(), without_line_breaks(raw));
    EXPECT_EQ(fits.first_not_guard(raw.size() + 1), raw.size() + 4);

    guarded_buffer one_short(raw.size() + 4);
    quorin_stub_xstrerror(file_not_found, one_short.data(), raw.size());
    EXPECT_EQ(one_short.text(), std::u16string(u"Unknown error.").substr(0, raw.size() - 1));
    EXPECT_EQ(one_short.first_not_guard(raw.size()), raw.size() + 4);
}

TEST(StatusText, LargeCapacitiesLimitSystemLookupsButNotOwnTexts) {
    constexpr size_t capacity = system_text_limit + 5000;
    constexpr size_t size = capacity + 16;

    guarded_buffer own(size);
    quorin_stub_xstrerror(QUORIN_STATUS_OUT_OF_MEMORY, own.data(), capacity);
    EXPECT_EQ(own.text(), u"Out of memory.");
    EXPECT_EQ(own.first_not(0, 14, capacity), capacity) << "own texts zero-fill the whole buffer";
    EXPECT_EQ(own.first_not_guard(capacity), size);

    guarded_buffer fallback(size);
    quorin_stub_xstrerror(0xAFFE000F, fallback.data(), capacity);
    EXPECT_EQ(fallback.text(), u"Unknown error.");
    EXPECT_EQ(fallback.first_not(0, 14, system_text_limit), system_text_limit)
        << "the fallback is zero-filled up to position 65534";
    EXPECT_EQ(fallback.first_not_guard(system_text_limit), size);

    guarded_buffer system(size);
    quorin_stub_xstrerror(file_not_found, system.data(), capacity);
    EXPECT_FALSE(system.text().empty());
    EXPECT_NE(system.text(), u"Unknown error.");
    EXPECT_EQ(system.first_not_guard(system_text_limit), size);
}
