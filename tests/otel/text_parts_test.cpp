// The parts the OpenTelemetry agent takes out of the application's texts: URLs, addresses,
// statements, vendor names.
#include <gtest/gtest.h>

#include <string>

#include "text_parts.h"

namespace {

using otel_agent::split_host_port;
using otel_agent::split_url;

TEST(TextParts, UrlsSplitIntoSchemeAuthorityPathAndQuery) {
    struct row {
        const char* url;
        const char *scheme, *authority, *path, *query;
    };
    const row rows[] = {
        {"/orders?customer=42", "", "", "/orders", "customer=42"},
        {"/orders#top", "", "", "/orders", ""},
        {"https://shop.example:8443/a/b?x=1&y=2#f", "https", "shop.example:8443", "/a/b",
         "x=1&y=2"},
        {"http://host?q", "http", "host", "", "q"},
        {"/redirect?to=http://other/", "", "", "/redirect", "to=http://other/"},
        {"", "", "", "", ""},
    };
    for (const row& r : rows) {
        const auto parts = split_url(r.url);
        EXPECT_EQ(parts.scheme, r.scheme) << r.url;
        EXPECT_EQ(parts.authority, r.authority) << r.url;
        EXPECT_EQ(parts.path, r.path) << r.url;
        EXPECT_EQ(parts.query, r.query) << r.url;
    }
}

TEST(TextParts, AddressesSplitIntoHostAndPort) {
    struct row {
        const char* text;
        const char* host;
        int32_t port;
    };
    const row rows[] = {
        {"db.local:5432", "db.local", 5432},
        {"192.0.2.10", "192.0.2.10", 0},
        {"[::1]:8080", "::1", 8080},
        {"::1", "::1", 0},
        {"user:secret@db:1", "db", 1},
        {"host:99999", "host:99999", 0},
        {"host:", "host:", 0},
        {"[fe80::1", "[fe80::1", 0},
    };
    for (const row& r : rows) {
        const auto parts = split_host_port(r.text);
        EXPECT_EQ(parts.host, r.host) << r.text;
        EXPECT_EQ(parts.port, r.port) << r.text;
    }
}

TEST(TextParts, StatementsAndVendorNames) {
    EXPECT_EQ(otel_agent::first_word("  select * from t"), "SELECT");
    EXPECT_EQ(otel_agent::first_word("(SELECT 1)"), "SELECT");
    EXPECT_EQ(otel_agent::first_word("42"), "");
    EXPECT_EQ(otel_agent::system_name("PostgreSQL"), "postgresql");
    EXPECT_EQ(otel_agent::system_name("SQL Server"), "mssql");
    EXPECT_EQ(otel_agent::system_name("My Queue"), "my_queue");
}

// Lowered a word at a time: every length around the word sizes, the bytes on both sides of
// 'A' to 'Z', and UTF-8, whose bytes stay as they are.
TEST(TextParts, HeaderNamesLowered) {
    const std::string bytes = "@AZ[`az{\x7F\xC3\x84\xDA-Content-TYPE-X-Forwarded-For";
    for (size_t length = 0; length <= 24; ++length) {
        for (size_t start = 0; start + length <= bytes.size(); start += 5) {
            const std::string text = bytes.substr(start, length);
            std::string expected = text;
            for (char& c : expected) {
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            }
            std::string lowered(text.size() + 1, '|');
            otel_agent::copy_lower_case(text, lowered.data());
            EXPECT_EQ(lowered, expected + "|") << text;
        }
    }
}

}  // namespace
