#include "platform/fault_signals.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace Core_Platform {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

std::atomic<fault_handler_fn> g_handler{nullptr};
std::atomic<bool> g_installed{false};
struct sigaction g_previous[kSignalCount];

// Set by thread_fault_guard; touched on the guarded thread before any fault
// so that reading it in the handler never allocates.
__attribute__((tls_model("initial-exec"))) thread_local bool t_guarded = false;
// The lowest address of the guarded thread's stack (0: not known). A fault
// in the guard area below it is a stack overflow.
__attribute__((tls_model("initial-exec"))) thread_local std::uintptr_t t_stack_low = 0;
constexpr std::uintptr_t kOverflowWindow = 1024 * 1024;
constexpr std::uintptr_t kPage = 4096;

int signal_index(int sig) {
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == sig) return i;
    }
    return -1;
}

void fill_registers(const ucontext_t* uc, fault_context_t& out) {
#if defined(__x86_64__)
    const greg_t* g = uc->uc_mcontext.gregs;
    out.di = static_cast<std::uint64_t>(g[REG_RDI]);
    out.si = static_cast<std::uint64_t>(g[REG_RSI]);
    out.ax = static_cast<std::uint64_t>(g[REG_RAX]);
    out.bx = static_cast<std::uint64_t>(g[REG_RBX]);
    out.cx = static_cast<std::uint64_t>(g[REG_RCX]);
    out.dx = static_cast<std::uint64_t>(g[REG_RDX]);
    out.ip = static_cast<std::uint64_t>(g[REG_RIP]);
    out.bp = static_cast<std::uint64_t>(g[REG_RBP]);
    out.sp = static_cast<std::uint64_t>(g[REG_RSP]);
    out.flags = static_cast<std::uint64_t>(g[REG_EFL]);
    const auto segs = static_cast<std::uint64_t>(g[REG_CSGSFS]);
    out.cs = segs & 0xFFFF;
    // The kernel stores SS in the last 16 bits when it says so in uc_flags.
    constexpr unsigned long kSigcontextSs = 0x2;
    out.ss = (uc->uc_flags & kSigcontextSs) != 0 ? (segs >> 48) & 0xFFFF : 0;
    // Page-fault error code: bit 1 set for a write.
    out.write_access = (static_cast<std::uint64_t>(g[REG_ERR]) & 0x2) != 0;
    out.has_registers = true;
#elif defined(__i386__)
    const greg_t* g = uc->uc_mcontext.gregs;
    out.di = static_cast<std::uint32_t>(g[REG_EDI]);
    out.si = static_cast<std::uint32_t>(g[REG_ESI]);
    out.ax = static_cast<std::uint32_t>(g[REG_EAX]);
    out.bx = static_cast<std::uint32_t>(g[REG_EBX]);
    out.cx = static_cast<std::uint32_t>(g[REG_ECX]);
    out.dx = static_cast<std::uint32_t>(g[REG_EDX]);
    out.ip = static_cast<std::uint32_t>(g[REG_EIP]);
    out.bp = static_cast<std::uint32_t>(g[REG_EBP]);
    out.sp = static_cast<std::uint32_t>(g[REG_ESP]);
    out.flags = static_cast<std::uint32_t>(g[REG_EFL]);
    out.cs = static_cast<std::uint32_t>(g[REG_CS]) & 0xFFFF;
    out.ss = static_cast<std::uint32_t>(g[REG_SS]) & 0xFFFF;
    out.write_access = (static_cast<std::uint32_t>(g[REG_ERR]) & 0x2) != 0;
    out.has_registers = true;
#else
    (void)uc;
    out.has_registers = false;
#endif
}

// Puts the previous disposition back and lets the signal take its course.
void decline(int sig, int index, const siginfo_t* info) {
    sigaction(sig, &g_previous[index], nullptr);
    // A fault raised by the processor happens again when the handler
    // returns; a signal sent by a process (kill, abort) must be sent again.
    if (info == nullptr || info->si_code <= 0) raise(sig);
}

void on_fatal_signal(int sig, siginfo_t* info, void* raw_context) {
    const int saved_errno = errno;
    const int index = signal_index(sig);
    if (index < 0) return;
    fault_handler_fn handler = g_handler.load(std::memory_order_acquire);
    if (t_guarded && handler != nullptr) {
        fault_context_t context;
        context.signal = sig;
        context.signal_code = info != nullptr ? info->si_code : 0;
        context.from_kernel = info != nullptr && info->si_code > 0;
        context.fault_address =
            info != nullptr ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0;
        if (raw_context != nullptr) {
            fill_registers(static_cast<const ucontext_t*>(raw_context), context);
        }
        if (!context.from_kernel) context.write_access = false;
        context.stack_overflow = sig == SIGSEGV && context.from_kernel && t_stack_low != 0 &&
                                 context.fault_address < t_stack_low + kPage &&
                                 context.fault_address + kOverflowWindow >= t_stack_low;
        handler(context);
    }
    decline(sig, index, info);
    errno = saved_errno;
}

}  // namespace

bool install_fault_handler(fault_handler_fn handler) {
    g_handler.store(handler, std::memory_order_release);
    bool expected = false;
    if (!g_installed.compare_exchange_strong(expected, true)) return true;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = on_fatal_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int i = 0; i < kSignalCount; ++i) {
        if (sigaction(kSignals[i], &action, &g_previous[i]) != 0) ok = false;
    }
    return ok;
}

thread_fault_guard::thread_fault_guard() {
    // Large enough for the report, which keeps its buffers in static storage.
    const std::size_t size = 64 * 1024 + static_cast<std::size_t>(SIGSTKSZ);
    void* stack = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (stack != MAP_FAILED) {
        stack_t ss;
        std::memset(&ss, 0, sizeof ss);
        ss.ss_sp = stack;
        ss.ss_size = size;
        stack_t previous;
        std::memset(&previous, 0, sizeof previous);
        if (sigaltstack(&ss, &previous) == 0) {
            m_previous_stack = previous.ss_sp;
            m_previous_size = previous.ss_size;
            m_previous_flags = previous.ss_flags & SS_DISABLE;
            m_stack = stack;
            m_stack_size = size;
        } else {
            munmap(stack, size);
        }
    }
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* low = nullptr;
        std::size_t thread_stack_size = 0;
        if (pthread_attr_getstack(&attr, &low, &thread_stack_size) == 0) {
            t_stack_low = reinterpret_cast<std::uintptr_t>(low);
        }
        pthread_attr_destroy(&attr);
    }
    t_guarded = true;
}

thread_fault_guard::~thread_fault_guard() {
    t_guarded = false;
    t_stack_low = 0;
    if (m_stack != nullptr) {
        stack_t ss;
        std::memset(&ss, 0, sizeof ss);
        ss.ss_sp = m_previous_stack;
        ss.ss_size = m_previous_size;
        ss.ss_flags = m_previous_flags;
        if (sigaltstack(&ss, nullptr) != 0) {
            std::memset(&ss, 0, sizeof ss);
            ss.ss_flags = SS_DISABLE;
            sigaltstack(&ss, nullptr);
        }
        munmap(m_stack, m_stack_size);
    }
}

bool current_thread_guarded() { return t_guarded; }

void capture_current_context(fault_context_t& out) {
    out = fault_context_t{};
    ucontext_t uc;
    std::memset(&uc, 0, sizeof uc);
    if (getcontext(&uc) == 0) fill_registers(&uc, out);
    out.write_access = false;
}

}  // namespace Core_Platform
