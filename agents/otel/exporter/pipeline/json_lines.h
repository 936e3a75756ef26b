// Where the exporter writes OTLP JSON lines besides OTLP: a file, rotated at its size limit
// with a bounded number of old files, and standard error. Used by the exporter thread only;
// the counts may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "otel_platform.h"
#include "settings.h"

namespace otel {

class json_line_file {
  public:
    explicit json_line_file(file_settings settings) : settings_(std::move(settings)) {}

    // Appends one line, its end included, whole or not at all. A file that cannot be opened
    // is tried again at the next line; the line is counted as lost meanwhile.
    void append(std::string_view line);

    uint64_t lines_written() const { return written_.load(std::memory_order_relaxed); }
    uint64_t lines_lost() const { return lost_.load(std::memory_order_relaxed); }
    // Why the last line was lost, or the file not rotated; empty when nothing went wrong.
    const std::string& last_error() const { return last_error_; }
    const std::string& path() const { return settings_.path; }

  private:
    bool open(bool empty = false);
    // path.N-1 becomes path.N, ..., the file becomes path.1, and a new file is opened; without
    // old files the file is emptied (removing it would not do while another process reads it
    // on Windows, where the name stays until the last reader closes it).
    bool rotate();
    void lose(const std::string& reason);

    file_settings settings_;
    append_file file_;
    std::atomic<uint64_t> written_{0}, lost_{0};
    std::string last_error_;
};

// A line to standard error, flushed: the console exporter.
void write_console_line(std::string_view line);

}  // namespace otel
