#include <cerrno>
#include <cstring>

#include "console_output.h"
#include "text.h"

namespace console {

FILE* open_output_file(const char16_t* path, std::string* error) {
    FILE* file = std::fopen(agent_core::utf16_to_utf8(path).c_str(), "ab");
    if (file == nullptr) *error = std::strerror(errno);
    return file;
}

}  // namespace console
