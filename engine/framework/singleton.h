// Public engine surface: the per-class instance holder of modules.
//
// Singleton<T> is an empty base that every module class (and the sync
// client) derives from with itself as T. It owns one process-wide pointer to
// the single instance of T:
//   - instance() is empty before creation and after destruction;
//   - reset_instance(p) first destroys the instance the pointer still holds
//     (through its virtual destructor), then stores p;
//   - destroying the held instance by any other route empties the pointer.
//
// Thread rule: the pointer is written only on the main thread during start-up
// and shutdown, and may be read from any thread without locks while the
// framework runs (the pointer itself is atomic).
#pragma once

#include <atomic>

namespace Core_Common {

template <class T>
class Singleton {
public:
    static T* instance() { return s_instance.load(std::memory_order_acquire); }

    // Destroys the held instance, if any, then holds `fresh` (may be null).
    static void reset_instance(T* fresh = nullptr) {
        T* old = s_instance.load(std::memory_order_acquire);
        if (old != nullptr && old != fresh) {
            delete old;  // the destructor empties the pointer
        }
        s_base.store(fresh, std::memory_order_release);
        s_instance.store(fresh, std::memory_order_release);
    }

protected:
    Singleton() = default;
    ~Singleton() {
        // Compare as the base: `this` must not be cast down to T here.
        if (s_base.load(std::memory_order_acquire) == this) {
            s_instance.store(nullptr, std::memory_order_release);
            s_base.store(nullptr, std::memory_order_release);
        }
    }

private:
    static inline std::atomic<T*> s_instance{nullptr};
    static inline std::atomic<Singleton*> s_base{nullptr};
};

}  // namespace Core_Common
