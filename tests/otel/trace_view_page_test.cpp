// quorin-trace-view's page data: every line a JSON string that nothing in it can turn into
// markup, and the lines as the file has them.
#include <gtest/gtest.h>

#include <string>

#include "page_data.h"

namespace {

TEST(TraceViewPage, TextsBecomeStringsThatCannotEndOrChangeTheScript) {
    struct row {
        std::string text;
        const char* json;
    };
    const row rows[] = {
        {"plain span", R"("plain span")"},
        {"</script><script>", R"("\u003c/script\u003e\u003cscript\u003e")"},
        {"<!-- & -->", R"("\u003c!-- \u0026 --\u003e")"},
        {"\"q\" \\", R"("\"q\" \\")"},
        {std::string("a\0\n\x1f", 4), R"("a\u0000\u000a\u001f")"},
        {"\xe2\x80\xa8\xe2\x80\xa9", R"("\u2028\u2029")"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", R"("caf\u00e9 \ud83d\ude00")"},
        {"bad \xff\xc3", R"("bad \ufffd\ufffd")"},
    };
    for (const row& r : rows) {
        std::string out;
        trace_view::append_script_safe_string(out, r.text);
        EXPECT_EQ(out, r.json);
    }
}

TEST(TraceViewPage, TheDataMarkHoldsTheFileNameAndItsNonEmptyLines) {
    const std::string page =
        trace_view::make_page("<script>\"__QUORIN_TRACE_DATA__\"</script>", "t<1>.jsonl",
                              "{\"a\":1}\r\n\n{\"b\":\"__QUORIN_TRACE_DATA__\"}\nlast");
    EXPECT_EQ(page, R"(<script>{"file":"t\u003c1\u003e.jsonl","lines":["{\"a\":1}",)"
                    R"("{\"b\":\"__QUORIN_TRACE_DATA__\"}","last"]}</script>)");
}

}  // namespace
