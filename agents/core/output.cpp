#include "output.h"

#include "ids.h"

namespace agent_core {

size_t agent_output::write_tag(const trace_context& context, bool, char* out) const {
    agent_core::write_tag(context, out);
    return tag_length;
}

bool agent_output::parse_tag(std::string_view tag, bool, trace_context* context) const {
    return agent_core::parse_tag(tag, context);
}

}  // namespace agent_core
