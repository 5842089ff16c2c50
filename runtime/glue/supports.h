// Component surface: zv_glue::supports, the three nsISupports methods of a
// class, made from the list of interfaces it implements.
//
//   class thing final : public zv_glue::supports<thing, nsIFoo, nsIBar> {
//   public:
//       nsresult Foo() override;  // the interfaces' own methods
//       ...
//   private:
//       friend supports;  // Release destroys the object
//       ~thing();
//   };
//
//   - Each listed interface declares its identifier as a static I::IID()
//     (xpcom/ns_isupports.h).
//   - QueryInterface answers every listed interface with the object as that
//     interface, and nsISupports as the first one, each with one reference
//     added. Anything else stores null and gives NS_NOINTERFACE; a null
//     result pointer gives NS_ERROR_NULL_POINTER and stores nothing.
//   - The count is 0 at creation; AddRef and Release return the new count.
//     The Release that brings it to 0 deletes the object as `Derived`, once:
//     the destructor runs with the count at 1, so a reference it takes and
//     drops again (handing the object to a call) does not delete it twice.
//
// Header-only, so that the runtime's own objects use it too.
//
// Thread rule: any thread; the count is atomic.
#pragma once

#include <atomic>
#include <type_traits>

#include "xpcom/ns_isupports.h"

namespace zv_glue {

template <class Derived, class First, class... Rest>
class supports : public First, public Rest... {
    static_assert(std::is_base_of_v<nsISupports, First> &&
                      (std::is_base_of_v<nsISupports, Rest> && ...),
                  "supports: every listed type is an interface");

public:
    nsresult QueryInterface(const nsIID& iid, void** result) override {
        if (result == nullptr) return NS_ERROR_NULL_POINTER;
        void* found = nullptr;
        if (!find<First>(iid, found) && !(find<Rest>(iid, found) || ...) &&
            iid.Equals(NS_ISUPPORTS_IID)) {
            found = static_cast<First*>(this);
        }
        *result = found;
        if (found == nullptr) return NS_NOINTERFACE;
        AddRef();
        return NS_OK;
    }

    nsrefcnt AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }

    nsrefcnt Release() override {
        const nsrefcnt n = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (n == 0) {
            m_refs.store(1, std::memory_order_relaxed);
            delete static_cast<Derived*>(this);
        }
        return n;
    }

protected:
    supports() = default;
    ~supports() = default;

private:
    template <class Interface>
    bool find(const nsIID& iid, void*& found) {
        if (!iid.Equals(Interface::IID())) return false;
        found = static_cast<Interface*>(this);
        return true;
    }

    std::atomic<nsrefcnt> m_refs{0};
};

}  // namespace zv_glue
