// Sets or removes an environment variable for one scope and puts the previous state back.
// Unit tests only: it uses the platform layer of the internal library.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

class scoped_environment_variable {
  public:
    // A null value removes the variable for the scope.
    scoped_environment_variable(const char16_t* name, const char16_t* value) : name_(name) {
        char16_t* previous = nullptr;
        if (platform_env_get(name, &previous) == platform_env_result::found) {
            previous_ = std::u16string(previous);
        }
        platform_heap_release(previous);
        platform_env_set(name, value);
    }
    ~scoped_environment_variable() {
        platform_env_set(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
    }
    scoped_environment_variable(const scoped_environment_variable&) = delete;
    scoped_environment_variable& operator=(const scoped_environment_variable&) = delete;

  private:
    std::u16string name_;
    std::optional<std::u16string> previous_;
};
