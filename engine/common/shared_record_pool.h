// Public engine surface: the process-wide record pool of one record type.
//
// shared_record_pool<T> is one record_pool of sizeof(T)-byte records per type
// T, with a process-wide recursive lock of its own, both created on first use
// and never destroyed (so objects released during static destruction are
// still safe). create() and destroy() take the lock only around the pool;
// T's constructor and destructor run outside it.
//
// Users whose pool must be guarded by a lock they already hold take lock()
// and pool() directly instead.
//
// Failure: create() raises fatal_error() when the pool does; an exception
// from T's constructor returns the record and propagates.
//
// Thread rule: any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>
#include <utility>

#include "common/record_pool.h"

namespace Core_Common {

template <class T>
class shared_record_pool {
public:
    static std::recursive_mutex& lock() {
        static auto* the_lock = new std::recursive_mutex;
        return *the_lock;
    }

    // The pool; the caller holds lock().
    static record_pool& pool() {
        static auto* the_pool = new record_pool(static_cast<std::uint32_t>(sizeof(T)));
        return *the_pool;
    }

    // A new T from the pool, constructed from `args`. `name` names the chunks.
    template <class... Args>
    static T* create(const char* name, Args&&... args) {
        void* raw;
        {
            std::lock_guard<std::recursive_mutex> guard(lock());
            raw = pool().allocate(sizeof(T), name);
        }
        try {
            return ::new (raw) T(std::forward<Args>(args)...);
        } catch (...) {
            std::lock_guard<std::recursive_mutex> guard(lock());
            pool().release(raw, sizeof(T));
            throw;
        }
    }

    // Destroys an object from create() and returns its record; nullptr does
    // nothing.
    static void destroy(T* object) {
        if (object == nullptr) return;
        object->~T();
        std::lock_guard<std::recursive_mutex> guard(lock());
        pool().release(object, sizeof(T));
    }

    static record_pool_figures_t figures() {
        std::lock_guard<std::recursive_mutex> guard(lock());
        return pool().figures();
    }
};

}  // namespace Core_Common
