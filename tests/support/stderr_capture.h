// Redirects the standard error file descriptor (or standard output's, given 1) to a temporary
// file for one scope, through the C runtime's dup/dup2, so that what the library writes there
// can be read back.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class stderr_capture {
  public:
    explicit stderr_capture(int descriptor = 2)
        : descriptor_(descriptor), stream_(descriptor == 1 ? stdout : stderr) {
        std::fflush(stream_);
        file_ = std::tmpfile();
        if (file_ == nullptr) return;
        saved_descriptor_ = dup(descriptor_);
        if (saved_descriptor_ >= 0) dup2(fileno(file_), descriptor_);
    }
    ~stderr_capture() {
        if (saved_descriptor_ >= 0) {
            std::fflush(stream_);
            dup2(saved_descriptor_, descriptor_);
            close(saved_descriptor_);
        }
        if (file_ != nullptr) std::fclose(file_);
    }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;

    bool active() const { return saved_descriptor_ >= 0; }

    // Everything written to standard error so far in this scope.
    std::string text() {
        std::string result;
        if (!active()) return result;
        std::fflush(stream_);
        std::rewind(file_);
        char chunk[4096];
        size_t read;
        while ((read = std::fread(chunk, 1, sizeof chunk, file_)) > 0) result.append(chunk, read);
        std::fseek(file_, 0, SEEK_END);
        return result;
    }

  private:
    int descriptor_;
    FILE* stream_;
    FILE* file_ = nullptr;
    int saved_descriptor_ = -1;
};
