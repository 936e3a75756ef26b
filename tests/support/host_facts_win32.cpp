#include <windows.h>

#include "support/host_facts.h"

std::string test_host_id() {
    char guid[64] = {};
    DWORD size = sizeof guid;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                     RRF_RT_REG_SZ, nullptr, guid, &size) != ERROR_SUCCESS) {
        return {};
    }
    return guid;
}

std::string test_executable_path() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : "";
}

std::string test_user_name() {
    char name[257] = {};
    DWORD length = sizeof name;
    return GetUserNameA(name, &length) ? name : "";
}
