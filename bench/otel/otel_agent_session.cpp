#include "otel_agent_session.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "http_transport.h"

namespace {

quorin_status_t set_variable(const std::string& text) {
    const std::basic_string<quorin_wchar_t> wide(text.begin(), text.end());
    return quorin_stub_set_variable(wide.c_str(), 1);
}

std::atomic<double> sent_share{1};

void on_warning(const char* text) {
    unsigned long long sent = 0, dropped = 0;
    if (std::sscanf(text, "OpenTelemetry export at shutdown: %llu spans sent, %llu dropped", &sent,
                    &dropped) == 2 &&
        sent + dropped > 0) {
        sent_share = static_cast<double>(sent) / static_cast<double>(sent + dropped);
    }
}

}  // namespace

std::string receiver_control(const std::string& base, const char* what) {
    const std::optional<otel::url> target = otel::parse_url(base + "/control/" + what);
    if (!target) return {};
    otel::http_request request;
    request.target = &*target;
    request.content_type = "text/plain";
    request.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    return otel::http_transport().post(request).body;
}

otel_agent_session::otel_agent_session(std::initializer_list<const char*> options) {
    const char* receiver = std::getenv("QUORIN_OTEL_RECEIVER");
    if (receiver == nullptr || *receiver == 0) {
        error_ = "QUORIN_OTEL_RECEIVER is not set (scripts/bench starts the receiver)";
        return;
    }
    receiver_ = receiver;
    quorin_stub_free_variables();
    std::vector<std::string> variables = {"home=" QUORIN_OTEL_AGENT_HOME,
                                          "otel_endpoint=" + receiver_};
    variables.insert(variables.end(), options.begin(), options.end());
    for (const std::string& variable : variables) {
        if (set_variable(variable) != QUORIN_STATUS_OK) {
            error_ = "could not set " + variable;
            return;
        }
    }
    const quorin_status_t status = quorin_initialize();
    initialized_ = status == QUORIN_STATUS_OK;
    if (!initialized_ || quorin_agent_get_fork_state() == -1) {
        error_ =
            "the OpenTelemetry agent could not be bound (status " + std::to_string(status) + ")";
        return;
    }
    web_application_ = quorin_webapplicationinfo_create_p("shop.example", "shop", "/");
    sent_share = 1;
    quorin_agent_set_warning_callback(&on_warning);
}

double otel_agent_session::last_sent_share() { return sent_share; }

otel_agent_session::~otel_agent_session() {
    if (web_application_ != 0) quorin_webapplicationinfo_delete(web_application_);
    if (initialized_) quorin_shutdown();
    quorin_stub_free_variables();
    if (!receiver_.empty()) receiver_control(receiver_, "reset");
}
