// Public engine surface: the C library's large blocks on huge pages.
//
// A page fault costs several microseconds on the virtual machines the
// programs run on, and a large sync touches hundreds of megabytes once (tree
// documents in their UTF-8 and UTF-16 forms, packed messages): faulting that
// in 4 KiB pages took a third of a first sync's processor time. The C library
// asks the kernel for transparent huge pages for the memory it takes when its
// tunable "glibc.malloc.hugetlb" is 1, where the kernel leaves huge pages to
// a program's advice (the default); a fault then brings in 2 MiB. The
// library reads its tunables only as the program starts.
//
// Thread rule: main thread, first thing in main(), before any other thread
// exists.
#pragma once

#include <string>

namespace Core_Platform {

// Starts the program again (the same executable, arguments, open files and
// process), with "glibc.malloc.hugetlb=1" added to GLIBC_TUNABLES, unless
//   - GLIBC_TUNABLES names glibc.malloc.hugetlb already (set by the user, or
//     by the first start),
//   - ZORVANE_HUGE_PAGES is "0",
//   - the kernel gives no transparent huge pages ("never"), or
//   - the program runs under a sanitizer or valgrind, whose allocators do
//     not read the tunable.
// Returns in those cases, and when the new start fails (the program then
// runs on as it is); otherwise it does not return.
void start_with_huge_pages(char** argv);

// The value of GLIBC_TUNABLES that asks for huge pages, given its value now
// (null when unset): the tunables set now, kept in their order, and
// "glibc.malloc.hugetlb=1" after them. Empty when the value now names
// glibc.malloc.hugetlb already, whatever it sets it to.
std::string huge_page_tunables(const char* current);

}  // namespace Core_Platform
