// Buffers for the texts of one call of a thread (a text argument made printable, a copy to
// hand on), handed out in turn and emptied when handed out: a call keeps up to count of them
// at once.
#pragma once

#include <string>

namespace agent_core {

class call_texts {
  public:
    static constexpr unsigned count = 8;

    std::string& next() {
        std::string& buffer = buffers_[next_++ % count];
        buffer.clear();
        return buffer;
    }
    // Gives their memory up (the agent's release).
    void free() {
        for (std::string& buffer : buffers_) std::string().swap(buffer);
    }

  private:
    std::string buffers_[count];
    unsigned next_ = 0;
};

}  // namespace agent_core
