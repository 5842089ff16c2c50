// Internal to the runtime: the reference count of the runtime's objects.
#pragma once

#include <atomic>

#include "xpcom/ns_result.h"

namespace zv_runtime {

// A thread-safe count, 0 at creation.
class ref_count {
public:
    nsrefcnt add() { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The new count; the caller destroys the object when it is 0.
    nsrefcnt release() { return m_count.fetch_sub(1, std::memory_order_acq_rel) - 1; }

private:
    std::atomic<nsrefcnt> m_count{0};
};

}  // namespace zv_runtime
