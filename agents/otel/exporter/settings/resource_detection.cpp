#include "resource_detection.h"

#include <algorithm>

#include "id_generator.h"
#include "redaction.h"

namespace otel {

namespace {

// The lines of a text, one at a time.
template <typename Each>
void for_each_line(std::string_view text, Each each) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        if (each(text.substr(0, end))) return;
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

bool container_id_form(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// A cgroup line "hierarchy:controllers:path" whose last step names a container: "<id>",
// "docker-<id>.scope", "cri-containerd-<id>.scope", "crio-<id>.scope", "libpod-<id>.scope".
std::string_view id_of_cgroup_line(std::string_view line) {
    const size_t first = line.find(':');
    const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) return {};
    std::string_view step = line.substr(line.rfind('/') + 1);
    if (step.ends_with(".scope")) step.remove_suffix(6);
    step = step.substr(step.rfind('-') + 1);
    return container_id_form(step) ? step : std::string_view();
}

// A mount of the container's files as its runtime keeps them: ".../containers/<id>/..."
// (Docker), ".../overlay-containers/<id>/..." (Podman).
std::string_view id_of_mount_line(std::string_view line) {
    std::string_view before;
    while (!line.empty()) {
        const size_t slash = line.find_first_of("/ ");
        const std::string_view step = line.substr(0, slash);
        if ((before == "containers" || before == "overlay-containers") && container_id_form(step))
            return step;
        before = step;
        line.remove_prefix(slash == std::string_view::npos ? line.size() : slash + 1);
    }
    return {};
}

// Without the blanks and line ends the files end their values with.
std::string_view trim_space(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

void add_text(std::vector<key_value>& out, const char* key, std::string_view value) {
    const std::string_view trimmed = trim_space(value);
    if (!trimmed.empty()) out.push_back(key_value::of(key, printable(trimmed)));
}

}  // namespace

std::string_view host_arch_of(std::string_view machine) {
    static constexpr std::pair<std::string_view, std::string_view> names[] = {
        {"x86_64", "amd64"}, {"amd64", "amd64"},   {"aarch64", "arm64"}, {"arm64", "arm64"},
        {"i386", "x86"},     {"i686", "x86"},      {"x86", "x86"},       {"armv7l", "arm32"},
        {"armv6l", "arm32"}, {"ppc64le", "ppc64"}, {"ppc64", "ppc64"},   {"ppc", "ppc32"},
        {"s390x", "s390x"},  {"ia64", "ia64"},
    };
    for (const auto& [system, conventions] : names) {
        if (system == machine) return conventions;
    }
    return {};
}

std::string container_id_of(std::string_view cgroup, std::string_view mountinfo) {
    std::string_view found;
    for_each_line(cgroup, [&](std::string_view line) {
        found = id_of_cgroup_line(line);
        return !found.empty();
    });
    if (found.empty()) {
        for_each_line(mountinfo, [&](std::string_view line) {
            found = id_of_mount_line(line);
            return !found.empty();
        });
    }
    return std::string(found);
}

std::string os_release_value(std::string_view text, std::string_view name) {
    std::string value;
    for_each_line(text, [&](std::string_view line) {
        if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != '=')
            return false;
        std::string_view found = trim_space(line.substr(name.size() + 1));
        if (found.size() >= 2 && (found.front() == '"' || found.front() == '\'') &&
            found.back() == found.front()) {
            found = found.substr(1, found.size() - 2);
        }
        value = found;
        return true;
    });
    return value;
}

std::string uuid_v4(uint64_t high, uint64_t low) {
    uint8_t bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(high >> (56 - 8 * i));
        bytes[8 + i] = static_cast<uint8_t>(low >> (56 - 8 * i));
    }
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC's variant
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
    return out;
}

std::string new_instance_id() {
    id_generator ids;
    const uint64_t high = ids.next();
    return uuid_v4(high, ids.next());
}

std::vector<key_value> detected_attributes(const host_facts& facts,
                                           const std::string& instance_id) {
    std::vector<key_value> out;
    add_text(out, "host.arch", host_arch_of(facts.machine));
    add_text(out, "host.id", facts.host_id);
    // The distribution where it says its name, else the kernel.
    const std::string distribution = os_release_value(facts.os_release, "NAME");
    const std::string kernel =
        facts.release.empty() ? facts.system : facts.system + " " + facts.release;
    if (!distribution.empty()) {
        add_text(out, "os.name", distribution);
        add_text(out, "os.version", os_release_value(facts.os_release, "VERSION_ID"));
        std::string pretty = os_release_value(facts.os_release, "PRETTY_NAME");
        if (pretty.empty()) pretty = distribution;
        add_text(out, "os.description", kernel.empty() ? pretty : pretty + " (" + kernel + ")");
    } else {
        add_text(out, "os.name", facts.system);
        add_text(out, "os.version", facts.release);
        add_text(out, "os.description", kernel);
    }
    add_text(out, "service.instance.id", instance_id);
    add_text(out, "container.id", container_id_of(facts.cgroup, facts.mountinfo));
    add_text(out, "process.owner", facts.owner);
    add_text(out, "process.command", facts.executable_path);
    return out;
}

}  // namespace otel
