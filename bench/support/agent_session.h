// Binds libquorin to the benchmark agent for the lifetime of the session: every forwarder,
// the extension ones included, then reaches a slot that does nothing.
#pragma once

#include <cstdint>

#include "quorin.h"

class agent_session {
  public:
    agent_session();
    ~agent_session();
    agent_session(const agent_session&) = delete;
    agent_session& operator=(const agent_session&) = delete;

    // 0 when the agent and all five extensions are bound.
    quorin_status_t status() const { return status_; }

  private:
    quorin_status_t status_;
    bool initialized_;
};
