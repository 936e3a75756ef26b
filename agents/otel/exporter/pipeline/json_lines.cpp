#include "json_lines.h"

#include <cstdio>

#include "redaction.h"

namespace otel {

bool json_line_file::open(bool empty) {
    std::string error;
    if (file_.open(settings_.path, error, empty)) return true;
    lose("the file '" + printable(settings_.path) + "' cannot be opened: " + error);
    return false;
}

void json_line_file::lose(const std::string& reason) {
    lost_.fetch_add(1, std::memory_order_relaxed);
    last_error_ = reason;
}

bool json_line_file::rotate() {
    file_.close();
    if (settings_.old_files == 0) return open(true);
    const std::string& path = settings_.path;
    const auto numbered = [&](uint32_t n) { return path + "." + std::to_string(n); };
    remove_file(numbered(settings_.old_files));
    for (uint32_t n = settings_.old_files - 1; n >= 1; --n)
        rename_file(numbered(n), numbered(n + 1));
    if (!rename_file(path, numbered(1))) {
        // Held open elsewhere without leave to rename it: written on past the limit.
        last_error_ = "the file '" + printable(path) + "' could not be rotated";
    }
    return open();
}

void json_line_file::append(std::string_view line) {
    if (!file_.is_open() && !open()) return;
    if (file_.size() > 0 && file_.size() + line.size() > settings_.max_bytes) {
        if (!rotate()) return;
    }
    const uint64_t before = file_.size();
    std::string error;
    if (!file_.write(line, error)) {
        file_.truncate(before);
        lose("a line could not be written to '" + printable(settings_.path) + "': " + error);
        return;
    }
    written_.fetch_add(1, std::memory_order_relaxed);
}

void write_console_line(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace otel
