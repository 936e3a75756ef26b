// Where the agent runs, as the resource says it: the container of each runtime's cgroup and
// mount forms, the system's names, the host id files in their order, the instance id's form.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "otel_platform.h"
#include "resource_detection.h"

namespace {

const std::string id = "a7b1c2d3e4f5a6b7c8d9e0f1a2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d7e8f9a0b1";

TEST(ResourceDetection, ContainerIdOfEachRuntimesForm) {
    struct row {
        const char* what;
        std::string cgroup, mountinfo, expected;
    };
    const std::string hostname_mount = "1 2 0:1 /var/lib/docker/containers/" + id +
                                       "/hostname /etc/hostname rw - ext4 /dev/sda1 rw\n";
    const row rows[] = {
        {"docker, cgroup v1", "12:pids:/docker/" + id + "\n11:cpu:/docker/" + id, "", id},
        {"systemd scope", "0::/system.slice/docker-" + id + ".scope\n", "", id},
        {"containerd under kubernetes",
         "1:name=systemd:/kubepods/burstable/pod1/cri-containerd-" + id + ".scope", "", id},
        {"cri-o", "1:cpu:/kubepods.slice/crio-" + id + ".scope", "", id},
        {"podman", "0::/user.slice/libpod-" + id + ".scope", "", id},
        {"kubernetes cgroupfs", "5:memory:/kubepods/besteffort/pod9/" + id, "", id},
        {"cgroup v2 in a namespace: the hostname mount", "0::/\n", hostname_mount, id},
        {"podman, cgroup v2", "0::/\n",
         "7 6 0:5 /var/lib/containers/storage/overlay-containers/" + id +
             "/userdata/hostname /etc/hostname rw\n",
         id},
        {"on the host", "0::/user.slice/user-1000.slice/session-2.scope\n",
         "22 1 8:1 / / rw,relatime - ext4 /dev/sda1 rw\n", ""},
        {"63 digits", "0::/docker/" + id.substr(1), "", ""},
        {"upper case", "0::/docker/" + std::string(64, 'A'), "", ""},
        {"nothing readable", "", "", ""},
    };
    for (const row& r : rows) {
        EXPECT_EQ(otel::container_id_of(r.cgroup, r.mountinfo), r.expected) << r.what;
    }
}

TEST(ResourceDetection, AttributesOfTheFactsAndTheirAbsence) {
    otel::host_facts facts;
    facts.machine = "aarch64";
    facts.host_id = "0123abcd\n";
    facts.os_release =
        "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME='Debian GNU/Linux'\nVERSION_ID=12\n";
    facts.system = "Linux";
    facts.release = "6.1.0";
    facts.cgroup = "0::/docker/" + id;
    facts.owner = "svc";
    facts.executable_path = "/opt/shop/bin/shop";
    std::map<std::string, std::string> got;
    for (const otel::key_value& kv : otel::detected_attributes(facts, "i-1")) got[kv.key] = kv.text;
    const std::map<std::string, std::string> expected = {
        {"host.arch", "arm64"},
        {"host.id", "0123abcd"},
        {"os.name", "Debian GNU/Linux"},
        {"os.version", "12"},
        {"os.description", "Debian GNU/Linux 12 (bookworm) (Linux 6.1.0)"},
        {"service.instance.id", "i-1"},
        {"container.id", id},
        {"process.owner", "svc"},
        {"process.command", "/opt/shop/bin/shop"},
    };
    EXPECT_EQ(got, expected);

    // Without a distribution's file the kernel names the system; what is unknown is left out.
    otel::host_facts windows;
    windows.machine = "amd64";
    windows.system = "Windows";
    windows.release = "10.0.19045";
    got.clear();
    for (const otel::key_value& kv : otel::detected_attributes(windows, "")) got[kv.key] = kv.text;
    EXPECT_EQ(got, (std::map<std::string, std::string>{{"host.arch", "amd64"},
                                                       {"os.name", "Windows"},
                                                       {"os.version", "10.0.19045"},
                                                       {"os.description", "Windows 10.0.19045"}}));
    EXPECT_EQ(otel::host_arch_of("x86_64"), "amd64");
    EXPECT_EQ(otel::host_arch_of("riscv64"), "");
}

TEST(ResourceDetection, InstanceIdsAreRandomVersion4Uuids) {
    EXPECT_EQ(otel::uuid_v4(0xFFFFFFFFFFFFFFFFull, 0), "ffffffff-ffff-4fff-8000-000000000000");
    const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    const std::string first = otel::new_instance_id(), second = otel::new_instance_id();
    EXPECT_TRUE(std::regex_match(first, form)) << first;
    EXPECT_NE(first, second);
}

TEST(ResourceDetection, TheFirstReadableFileOfTheList) {
    const auto dir = std::filesystem::temp_directory_path() / "quorin-resource-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string missing = (dir / "machine-id").string(), second = (dir / "dbus-id").string(),
                      folder = dir.string();
    std::ofstream(second, std::ios::binary) << "dbus-machine\n";
    EXPECT_EQ(otel::read_first_file({missing.c_str(), folder.c_str(), second.c_str()}),
              "dbus-machine\n");
    std::ofstream(missing) << "etc-machine";
    EXPECT_EQ(otel::read_first_file({missing.c_str(), second.c_str()}, 3), "etc");
    EXPECT_EQ(otel::read_first_file({(dir / "none").string().c_str()}), std::nullopt);
    std::filesystem::remove_all(dir);
}

}  // namespace
