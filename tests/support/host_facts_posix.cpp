#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/host_facts.h"

std::string test_host_id() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::ifstream file(path);
        std::string id;
        if (file >> id) return id;
    }
    return {};
}

std::string test_executable_path() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

std::string test_user_name() {
    const passwd* entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "";
}
