// Sets or removes a process environment variable for one scope and puts the previous state
// back. It goes through the system's own services, so the shared library sees the change;
// one implementation per platform (process_environment_posix.cpp, _win32.cpp).
#pragma once

#include <optional>
#include <string>

std::optional<std::string> process_environment_get(const char* name);
// A null value removes the variable.
void process_environment_set(const char* name, const char* value);

class scoped_process_environment {
  public:
    scoped_process_environment(const char* name, const char* value)
        : name_(name), previous_(process_environment_get(name)) {
        process_environment_set(name, value);
    }
    ~scoped_process_environment() {
        process_environment_set(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
    }
    scoped_process_environment(const scoped_process_environment&) = delete;
    scoped_process_environment& operator=(const scoped_process_environment&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};
