// The file of OTLP JSON lines: whole lines appended, rotation at the size limit with a bounded
// number of old files, and a file that cannot be opened counted and tried again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "json_lines.h"

namespace {

namespace fs = std::filesystem;

struct scratch_folder {
    fs::path path = fs::temp_directory_path() /
                    ("quorin-json-lines-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
    scratch_folder() {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~scratch_folder() { fs::remove_all(path); }
};

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A line of `size` bytes, its end included, made of `fill`.
std::string line_of(size_t size, char fill) { return std::string(size - 1, fill) + '\n'; }

TEST(OtelJsonLines, TheFileIsRotatedAtItsLimitKeepingABoundedNumberOfWholeOldFiles) {
    scratch_folder folder;
    const std::string path = (folder.path / "t.jsonl").string();
    std::ofstream(path, std::ios::binary) << line_of(1000, 'x');  // appended to, not replaced
    otel::json_line_file file({path, 4096, 2});
    for (char fill = 'a'; fill < 'a' + 11; ++fill) file.append(line_of(1000, fill));
    file.append(line_of(5000, 'L'));  // larger than the limit: alone in its file
    file.append(line_of(10, 'z'));
    EXPECT_EQ(file.lines_written(), 13u);
    EXPECT_EQ(file.lines_lost(), 0u);
    EXPECT_EQ(file.last_error(), "");
    // x a b c | d e f g | h i j k | L | z: the oldest two files are gone.
    EXPECT_EQ(contents(path), line_of(10, 'z'));
    EXPECT_EQ(contents(path + ".1"), line_of(5000, 'L'));
    EXPECT_EQ(contents(path + ".2"),
              line_of(1000, 'h') + line_of(1000, 'i') + line_of(1000, 'j') + line_of(1000, 'k'));
    EXPECT_FALSE(fs::exists(path + ".3"));

    otel::json_line_file no_old_files({path, 4096, 0});
    no_old_files.append(line_of(4096, 'n'));
    EXPECT_EQ(contents(path), line_of(4096, 'n'));
    EXPECT_EQ(contents(path + ".1"), line_of(5000, 'L'));  // left as it was

    // Read, and rotated by another writer, while both writers above hold the file open.
    otel::json_line_file other({path, 4096, 1});
    other.append(line_of(10, 'o'));
    EXPECT_EQ(contents(path + ".1"), line_of(4096, 'n'));
    EXPECT_EQ(contents(path), line_of(10, 'o'));
    EXPECT_EQ(other.last_error(), "");
}

TEST(OtelJsonLines, AFileThatCannotBeOpenedIsCountedNamedAndTriedAgain) {
    scratch_folder folder;
    const fs::path missing = folder.path / "missing";
    const std::string path = (missing / "t.jsonl").string();
    otel::json_line_file file({path, 1 << 20, 1});
    file.append("{}\n");
    file.append("{}\n");
    EXPECT_EQ(file.lines_lost(), 2u);
    EXPECT_EQ(file.lines_written(), 0u);
    EXPECT_NE(file.last_error().find("the file '" + path + "' cannot be opened: "),
              std::string::npos)
        << file.last_error();
    fs::create_directories(missing);
    file.append("{\"a\":1}\n");
    EXPECT_EQ(file.lines_written(), 1u);
    EXPECT_EQ(contents(path), "{\"a\":1}\n");
}

}  // namespace
