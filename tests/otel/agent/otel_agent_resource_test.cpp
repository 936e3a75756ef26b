// The resource the collector receives says on which host, system and container, and as which
// process and service instance, the agent runs; the configured attributes win over each.
#include <regex>
#include <string>

#include "otel_agent_fixture.h"
#include "support/host_facts.h"
#include "support/process_environment.h"

namespace otel_test {
namespace {

void send_one_span() {
    const quorin_handle_t span = quorin_ex_spantracer_create(0);
    quorin_ex_spantracer_set_operationname_p(span, "work");
    quorin_tracer_start(span);
    quorin_tracer_end(span);
    EXPECT_EQ(quorin_shutdown(), QUORIN_STATUS_OK);
}

TEST_F(otel_agent_test, ResourceSaysWhereTheAgentRuns) {
    initialize();
    send_one_span();
    auto spans = spans_in(receiver_->requests());
    ASSERT_EQ(spans.size(), 1u);
    const fields detected = spans[0].resource;
    auto value = [&](const char* key) {
        const auto found = detected.find(key);
        return found != detected.end() ? found->second : "(absent)";
    };
    EXPECT_EQ(value("host.arch"), "amd64");  // both builds are for 64-bit x86
    const std::string host_id = test_host_id();
    EXPECT_EQ(value("host.id"), host_id.empty() ? "(absent)" : host_id);
    EXPECT_EQ(value("process.command"), test_executable_path());
    EXPECT_EQ(value("process.owner"), test_user_name());
    EXPECT_TRUE(std::regex_match(
        value("service.instance.id"),
        std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << value("service.instance.id");
    EXPECT_NE(value("os.name"), "(absent)");
    EXPECT_NE(value("os.description").find(value("os.version")), std::string::npos)
        << value("os.description");
    // In a container or not.
    EXPECT_TRUE(value("container.id") == "(absent)" ||
                std::regex_match(value("container.id"), std::regex("[0-9a-f]{64}")))
        << value("container.id");

    // Kubernetes' Downward API gives the pod's names through the variable; what is configured
    // wins over what is detected, and the next initialize is a new instance.
    receiver_->reset();
    scoped_process_environment attributes(
        "OTEL_RESOURCE_ATTRIBUTES",
        "k8s.pod.name=shop-7d4f,k8s.namespace.name=prod,k8s.node.name=node-3,host.id=pinned");
    scoped_process_environment name("OTEL_SERVICE_NAME", "shop");
    initialize();
    send_one_span();
    spans = spans_in(receiver_->requests());
    ASSERT_EQ(spans.size(), 1u);
    const fields configured = spans[0].resource;
    EXPECT_EQ(configured.at("service.name"), "shop");
    EXPECT_EQ(configured.at("k8s.pod.name"), "shop-7d4f");
    EXPECT_EQ(configured.at("k8s.namespace.name"), "prod");
    EXPECT_EQ(configured.at("k8s.node.name"), "node-3");
    EXPECT_EQ(configured.at("host.id"), "pinned");
    EXPECT_EQ(configured.at("host.arch"), "amd64");
    EXPECT_NE(configured.at("service.instance.id"), value("service.instance.id"));
}

}  // namespace
}  // namespace otel_test
