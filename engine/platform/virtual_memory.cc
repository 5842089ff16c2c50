#include "platform/virtual_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace Core_Platform {
namespace {

constexpr std::uint32_t GRANULARITY = 65536;

vm_system_info_t read_system_info() {
    vm_system_info_t info;
    const long page = ::sysconf(_SC_PAGESIZE);
    info.page_size = page > 0 ? static_cast<std::uint32_t>(page) : 0;
    // Reservations are aligned by vm_reserve itself, so the granularity is
    // this layer's choice rather than the kernel's.
    info.allocation_granularity = GRANULARITY;
    return info;
}

std::mutex g_override_lock;
bool g_override_active = false;
vm_system_info_t g_override;

// Fault injection: the number of failable calls still to pass before one
// fails; negative when disarmed.
std::atomic<std::int64_t> g_fail_countdown{-1};
std::atomic<vm_error_enum> g_fail_error{vm_error_enum::no_memory};

void set_error(vm_error_enum* error, vm_error_enum value) {
    if (error != nullptr) *error = value;
}

// True when the hook makes this call fail.
bool injected_failure(vm_error_enum* error) {
    std::int64_t left = g_fail_countdown.load(std::memory_order_acquire);
    while (left >= 0) {
        if (g_fail_countdown.compare_exchange_weak(left, left - 1, std::memory_order_acq_rel)) {
            if (left == 0) {
                set_error(error, g_fail_error.load(std::memory_order_acquire));
                return true;
            }
            return false;
        }
    }
    return false;
}

vm_error_enum from_errno(int e) {
    return (e == ENOMEM || e == EAGAIN) ? vm_error_enum::no_memory : vm_error_enum::other;
}

}  // namespace

vm_system_info_t vm_system_info() {
    static const vm_system_info_t cached = read_system_info();
    std::lock_guard<std::mutex> guard(g_override_lock);
    return g_override_active ? g_override : cached;
}

void vm_override_system_info(vm_system_info_t info, bool restore) {
    std::lock_guard<std::mutex> guard(g_override_lock);
    g_override_active = !restore;
    g_override = info;
}

void vm_fail_at(std::int64_t n, vm_error_enum error) {
    g_fail_error.store(error, std::memory_order_release);
    g_fail_countdown.store(n < 0 ? -1 : n, std::memory_order_release);
}

void* vm_reserve(std::size_t size, vm_error_enum* error) {
    set_error(error, vm_error_enum::none);
    if (size == 0 || size % GRANULARITY != 0) {
        set_error(error, vm_error_enum::other);
        return nullptr;
    }
    if (injected_failure(error)) return nullptr;
    // Over-reserve by one granule, then trim both ends to the aligned range.
    const std::size_t span = size + GRANULARITY;
    void* raw =
        ::mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (raw == MAP_FAILED) {
        set_error(error, from_errno(errno));
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + GRANULARITY - 1) & ~std::uintptr_t{GRANULARITY - 1};
    const std::size_t head = aligned - start;
    const std::size_t tail = span - head - size;
    if (head > 0) ::munmap(raw, head);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    return reinterpret_cast<void*>(aligned);
}

bool vm_commit(void* address, std::size_t size, vm_error_enum* error) {
    set_error(error, vm_error_enum::none);
    if (injected_failure(error)) return false;
    if (::mprotect(address, size, PROT_READ | PROT_WRITE) != 0) {
        set_error(error, from_errno(errno));
        return false;
    }
    return true;
}

void vm_decommit(void* address, std::size_t size) {
    // Drop the contents first so the next commit reads zeroes, then make the
    // pages inaccessible again.
    ::madvise(address, size, MADV_DONTNEED);
    ::mprotect(address, size, PROT_NONE);
}

void* vm_allocate(std::size_t size, vm_error_enum* error) {
    set_error(error, vm_error_enum::none);
    if (size == 0) {
        set_error(error, vm_error_enum::other);
        return nullptr;
    }
    if (injected_failure(error)) return nullptr;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        set_error(error, from_errno(errno));
        return nullptr;
    }
    return p;
}

void vm_release(void* address, std::size_t size) {
    if (address != nullptr && size > 0) ::munmap(address, size);
}

}  // namespace Core_Platform
