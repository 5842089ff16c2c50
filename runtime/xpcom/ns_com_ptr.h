// Runtime surface: nsCOMPtr, an owning pointer to an interface.
//
// Holds one reference to the object it points to and releases it on
// destruction or reset. receive() hands out the address of the inner
// pointer for an out argument that stores an object with one reference
// added (QueryInterface, GetService, CreateInstance, …), after releasing
// what was held.
//
// Thread rule: one nsCOMPtr is used by one thread at a time.
#pragma once

#include <utility>

template <class T>
class nsCOMPtr {
public:
    nsCOMPtr() = default;
    // Adds a reference to `raw` (may be null).
    explicit nsCOMPtr(T* raw) : m_ptr(raw) {
        if (m_ptr != nullptr) m_ptr->AddRef();
    }
    nsCOMPtr(const nsCOMPtr& other) : nsCOMPtr(other.m_ptr) {}
    nsCOMPtr(nsCOMPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    nsCOMPtr& operator=(nsCOMPtr other) noexcept {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }
    ~nsCOMPtr() { reset(); }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    void reset() {
        if (T* old = std::exchange(m_ptr, nullptr)) old->Release();
    }
    // Gives up the reference without releasing it.
    T* forget() { return std::exchange(m_ptr, nullptr); }

    // For out arguments typed T**.
    T** receive() {
        reset();
        return &m_ptr;
    }
    // For out arguments typed void** that store a T*.
    void** receive_void() {
        reset();
        return reinterpret_cast<void**>(&m_ptr);
    }

private:
    T* m_ptr = nullptr;
};
