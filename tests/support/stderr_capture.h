// Redirects the standard error file descriptor to a temporary file for one scope, through the
// C runtime's dup/dup2, so that what the library writes to standard error can be read back.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

class stderr_capture {
  public:
    stderr_capture() {
        std::fflush(stderr);
        file_ = std::tmpfile();
        if (file_ == nullptr) return;
        saved_descriptor_ = dup(2);
        if (saved_descriptor_ >= 0) dup2(fileno(file_), 2);
    }
    ~stderr_capture() {
        if (saved_descriptor_ >= 0) {
            std::fflush(stderr);
            dup2(saved_descriptor_, 2);
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
        std::fflush(stderr);
        std::rewind(file_);
        char chunk[4096];
        size_t read;
        while ((read = std::fread(chunk, 1, sizeof chunk, file_)) > 0) result.append(chunk, read);
        std::fseek(file_, 0, SEEK_END);
        return result;
    }

  private:
    FILE* file_ = nullptr;
    int saved_descriptor_ = -1;
};
