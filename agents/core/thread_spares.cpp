#include "thread_spares.h"

#include "object_table.h"
#include "record_life.h"

namespace agent_core {

thread_spares::~thread_spares() {
    for (unsigned i = 0; i < records_; ++i) delete record_[i];
}

void thread_spares::give_back(object_table& objects) {
    for (unsigned i = 0; i < records_; ++i) pool_record(record_[i]);
    if (index_table_ == &objects) {
        for (unsigned i = 0; i < indexes_; ++i) objects.free_index(index_[i]);
    }
    records_ = indexes_ = 0;
}

}  // namespace agent_core
