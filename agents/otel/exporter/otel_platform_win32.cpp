#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "otel_platform.h"
#include "utf.h"

namespace otel {

namespace {

std::string to_utf8(const wchar_t* text, size_t length) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr,
                        nullptr);
    return out;
}

// The agent's own names (variables, threads) are ASCII.
std::wstring ascii_to_wide(const char* name) {
    return std::wstring(name, name + std::char_traits<char>::length(name));
}

}  // namespace

std::optional<std::string> read_process_environment(const char* name) {
    const std::wstring wide_name = ascii_to_wide(name);
    const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<wchar_t> value(size);
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
    if (length == 0 || length >= size) return std::nullopt;
    return to_utf8(value.data(), length);
}

std::string host_name() {
    wchar_t name[256];
    DWORD length = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return {};
    return to_utf8(name, length);
}

namespace {

std::wstring executable_path() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return std::wstring(path.data(), length);
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

std::string machine_guid() {
    wchar_t guid[64];
    DWORD size = sizeof guid;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return to_utf8(guid, wcsnlen(guid, size / sizeof(wchar_t)));
}

// The version the system says of itself; GetVersionEx answers what the manifest allows.
std::string windows_version() {
    using get_version = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto function = ntdll != nullptr ? reinterpret_cast<get_version>(reinterpret_cast<void*>(
                                                 GetProcAddress(ntdll, "RtlGetVersion")))
                                           : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (function == nullptr || function(&info) != 0) return {};
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

std::string user_name() {
    wchar_t name[257];
    DWORD length = 257;
    if (!GetUserNameW(name, &length) || length == 0) return {};
    return to_utf8(name, length - 1);  // the length counts the terminator
}

const char* machine_name() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "amd64";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return "arm64";
        case PROCESSOR_ARCHITECTURE_INTEL:
            return "x86";
        default:
            return "";
    }
}

}  // namespace

std::string executable_name() {
    // The file name with its extension, as the conventions name it on this system.
    const std::wstring full = executable_path();
    const std::wstring_view name = std::wstring_view(full).substr(full.find_last_of(L"\\/") + 1);
    return to_utf8(name.data(), name.size());
}

host_facts read_host_facts() {
    host_facts facts;
    facts.machine = machine_name();
    facts.host_id = machine_guid();
    facts.system = "Windows";
    facts.release = windows_version();
    facts.owner = user_name();
    const std::wstring path = executable_path();
    facts.executable_path = to_utf8(path.data(), path.size());
    return facts;
}

const char* os_type() { return "windows"; }
// The module is built for 64-bit x86 only; it runs as that on an ARM system too.
std::string platform_name() { return "Windows x86_64"; }

thread_priority set_current_thread_priority(thread_priority wanted) {
    // Below normal: the scheduler runs a ready thread of normal priority first, so the
    // application's threads always pre-empt the exporter, which still runs when they wait (and,
    // starved for seconds, gets the system's anti-starvation boost). Without the dynamic boost a
    // wait's end would lift it back to the application's level for a while. Background mode
    // would also lower the thread's disk and memory priority, for nothing here, and drop its
    // processor priority so far that any busy process on the host starves the exporter. The
    // application's priority: normal, with the dynamic boost, as a new thread starts.
    const HANDLE self = GetCurrentThread();
    const bool below = wanted == thread_priority::below_application;
    if (!SetThreadPriority(self, below ? THREAD_PRIORITY_BELOW_NORMAL : THREAD_PRIORITY_NORMAL)) {
        return GetThreadPriority(self) < THREAD_PRIORITY_NORMAL ? thread_priority::below_application
                                                                : thread_priority::application;
    }
    SetThreadPriorityBoost(self, below ? TRUE : FALSE);
    return wanted;
}

void name_current_thread(const char* name) {
    // SetThreadDescription exists from Windows 10 1607 on; earlier systems keep threads unnamed.
    using describe = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto set_description = reinterpret_cast<describe>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (set_description == nullptr) return;
    set_description(GetCurrentThread(), ascii_to_wide(name).c_str());
}

int fork_child_hook_add(fork_child_function, void*) { return -1; }
void fork_child_hook_remove(int) {}

void wipe_memory(void* data, size_t size) {
    if (data != nullptr && size != 0) SecureZeroMemory(data, size);
}
uint64_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace otel

namespace otel {

namespace {

// The system's path: none when the UTF-8 text has no exact UTF-16 form.
std::optional<std::wstring> wide_path(const std::string& path) {
    std::u16string wide(utf8_to_utf16_marking_invalid(path.data(), path.size(), nullptr, 0), u'\0');
    utf8_to_utf16_marking_invalid(path.data(), path.size(), wide.data(), wide.size());
    if (!utf16_well_formed(wide.data(), wide.size())) return std::nullopt;
    return std::wstring(wide.begin(), wide.end());
}

std::string reason(DWORD code) {
    switch (code) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "the disk is full";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_PATH_NOT_FOUND:
            return "no such folder";
        case ERROR_SHARING_VIOLATION:
            return "the file is in use";
        default:
            return "system error " + std::to_string(code);
    }
}

HANDLE handle_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool append_file::open(const std::string& path, std::string& error, bool empty) {
    close();
    const auto wide = wide_path(path);
    if (!wide) {
        error = "the path is not UTF-8";
        return false;
    }
    const HANDLE file = CreateFileW(
        wide->c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, empty ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
        error = reason(GetLastError());
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool append_file::write(std::string_view data, std::string& error) {
    // One writer: the end is where the last write left it, or where truncate cut.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size_);
    if (!SetFilePointerEx(handle_of(handle_), end, nullptr, FILE_BEGIN)) {
        error = reason(GetLastError());
        return false;
    }
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!WriteFile(handle_of(handle_), data.data(), chunk, &written, nullptr) || written == 0) {
            error = reason(GetLastError());
            return false;
        }
        size_ += written;
        data.remove_prefix(written);
    }
    return true;
}

void append_file::truncate(uint64_t size) {
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(handle_of(handle_), end, nullptr, FILE_BEGIN) &&
        SetEndOfFile(handle_of(handle_))) {
        size_ = size;
    }
}

void append_file::close() {
    if (handle_ != closed) CloseHandle(handle_of(handle_));
    handle_ = closed;
}

bool rename_file(const std::string& from, const std::string& to) {
    const auto wide_from = wide_path(from), wide_to = wide_path(to);
    return wide_from && wide_to &&
           MoveFileExW(wide_from->c_str(), wide_to->c_str(), MOVEFILE_REPLACE_EXISTING);
}

void remove_file(const std::string& path) {
    if (const auto wide = wide_path(path)) DeleteFileW(wide->c_str());
}

}  // namespace otel
