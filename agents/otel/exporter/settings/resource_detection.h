// The resource's description of where the agent runs, after the semantic conventions: the
// host (host.arch, host.id), the system (os.name, os.version, os.description), the container
// (container.id), the process (process.owner, process.command) and the service instance
// (service.instance.id), made of what the system told (host_facts). A fact that is missing
// leaves its attribute out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "otel_platform.h"
#include "otlp_model.h"

namespace otel {

std::vector<key_value> detected_attributes(const host_facts& facts, const std::string& instance_id);

// The conventions' name of a processor architecture ("x86_64" -> "amd64"); "" when unknown.
std::string_view host_arch_of(std::string_view machine);
// The 64 hex digits of the container the cgroup or mount table places the process in, the
// common runtimes' forms (Docker, containerd, CRI-O, Podman); "" when in none.
std::string container_id_of(std::string_view cgroup, std::string_view mountinfo);
// A value of /etc/os-release ("NAME", "VERSION_ID", "PRETTY_NAME"), its quotes removed.
std::string os_release_value(std::string_view text, std::string_view name);
// A random UUID (version 4) of these 128 bits, in its usual text form.
std::string uuid_v4(uint64_t high, uint64_t low);
// A new one from the system's entropy: a process's service.instance.id.
std::string new_instance_id();

}  // namespace otel
