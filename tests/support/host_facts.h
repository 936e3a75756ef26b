// What a test finds out about its host and process on its own, to compare with what an agent
// reports: one implementation per platform (host_facts_posix.cpp, _win32.cpp). "" when the
// system does not tell.
#pragma once

#include <string>

std::string test_host_id();          // /etc/machine-id (else dbus's); the MachineGuid
std::string test_executable_path();  // the running program's whole path
std::string test_user_name();        // the user the process runs as
