#include "platform/huge_pages.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace Core_Platform {
namespace {

constexpr const char* kTunables = "GLIBC_TUNABLES";
constexpr const char* kHugePages = "glibc.malloc.hugetlb=1";

bool under_instrumented_allocator() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#endif
#endif
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "vgpreload") != nullptr;
}

// "always [madvise] never": the bracketed word is the kernel's choice.
bool kernel_gives_huge_pages() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    if (!std::getline(in, line)) return false;
    return line.find("[never]") == std::string::npos;
}

}  // namespace

std::string huge_page_tunables(const char* current) {
    if (current == nullptr || *current == '\0') return kHugePages;
    // Tunables are NAME=VALUE pairs joined by ':'.
    const std::string now(current);
    std::size_t at = 0;
    while (at <= now.size()) {
        std::size_t end = now.find(':', at);
        if (end == std::string::npos) end = now.size();
        const std::string pair = now.substr(at, end - at);
        if (pair.compare(0, pair.find('='), "glibc.malloc.hugetlb") == 0) return {};
        at = end + 1;
    }
    return now + ":" + kHugePages;
}

void start_with_huge_pages(char** argv) {
    if (argv == nullptr || argv[0] == nullptr) return;
    const char* opt = std::getenv("ZORVANE_HUGE_PAGES");
    if (opt != nullptr && std::strcmp(opt, "0") == 0) return;
    const char* tunables = std::getenv(kTunables);
    const std::string value = huge_page_tunables(tunables);
    if (value.empty() || under_instrumented_allocator() || !kernel_gives_huge_pages()) return;
    // setenv may free the string getenv gave: what was set is kept apart.
    const std::optional<std::string> before =
        tunables ? std::optional<std::string>(tunables) : std::nullopt;
    if (setenv(kTunables, value.c_str(), 1) != 0) return;
    execv("/proc/self/exe", argv);
    // Not started again: run on as we are, and leave the environment as the
    // programs this one starts would have had it.
    if (before) {
        setenv(kTunables, before->c_str(), 1);
    } else {
        unsetenv(kTunables);
    }
}

}  // namespace Core_Platform
