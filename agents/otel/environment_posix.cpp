#include <cstdlib>

#include "settings.h"

namespace otel {

std::optional<std::string> read_process_environment(const char* name) {
    // Like the library's own variables: a set-user-id process does not follow them.
    const char* value = secure_getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace otel
