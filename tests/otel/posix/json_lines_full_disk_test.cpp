// A full disk: the line is lost, counted and reported with the system's reason.
#include <gtest/gtest.h>

#include "json_lines.h"

TEST(OtelJsonLines, AFullDiskLosesTheLineAndSaysWhy) {
    otel::json_line_file file({"/dev/full", 1 << 20, 0});
    file.append("{}\n");
    EXPECT_EQ(file.lines_lost(), 1u);
    EXPECT_EQ(file.lines_written(), 0u);
    EXPECT_NE(file.last_error().find("No space left on device"), std::string::npos)
        << file.last_error();
}
