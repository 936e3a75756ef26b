#include "support/agent_session.h"

#include "support/variable_names.h"

agent_session::agent_session() : status_(QUORIN_STATUS_OK), initialized_(false) {
    // Variables win over the environment, so a CV_ variable of the caller's cannot interfere.
    for (const char* variable : {"agentactive=true", "agentlibrary=" BENCH_AGENT_FILE}) {
        status_ = quorin_stub_set_variable(bench_text_of(variable).c_str(), 1);
        if (status_ != QUORIN_STATUS_OK) return;
    }
    status_ = quorin_initialize();
    initialized_ = status_ == QUORIN_STATUS_OK;
    for (auto enable : {quorin_ex_api_enable_serverless, quorin_ex_api_enable_span,
                        quorin_ex_api_enable_techtype, quorin_ex_api_enable_tracer_ext}) {
        if (status_ == QUORIN_STATUS_OK) status_ = enable();
    }
}

agent_session::~agent_session() {
    if (initialized_) quorin_shutdown();
}
