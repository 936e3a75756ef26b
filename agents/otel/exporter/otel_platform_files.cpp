// Reading the small files the resource is described from: the same on every system.
#include <fstream>

#include "otel_platform.h"

namespace otel {

std::optional<std::string> read_first_file(std::initializer_list<const char*> paths, size_t limit) {
    for (const char* path : paths) {
        std::ifstream file(path, std::ios::binary);
        if (!file) continue;
        std::string text(limit, '\0');
        file.read(text.data(), static_cast<std::streamsize>(limit));
        if (file.bad()) continue;
        text.resize(static_cast<size_t>(file.gcount()));
        return text;
    }
    return std::nullopt;
}

}  // namespace otel
