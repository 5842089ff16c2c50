#include "common/crash_paths.h"

namespace Core_Common {

const char* file_name_of(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

void program_name_of(const char* path, char* out, std::size_t capacity) {
    if (capacity == 0) return;
    const char* name = file_name_of(path);
    const char* end = nullptr;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '.') end = p;
    }
    std::size_t n = 0;
    for (const char* p = name; *p != '\0' && p != end && n + 1 < capacity; ++p) out[n++] = *p;
    out[n] = '\0';
}

bool sibling_path(const char* path, const char* helper_name, char* out, std::size_t capacity) {
    const std::size_t dir = static_cast<std::size_t>(file_name_of(path) - path);
    std::size_t helper = 0;
    while (helper_name[helper] != '\0') ++helper;
    if (capacity == 0 || dir + helper + 1 > capacity) return false;
    for (std::size_t i = 0; i < dir; ++i) out[i] = path[i];
    for (std::size_t i = 0; i < helper; ++i) out[dir + i] = helper_name[i];
    out[dir + helper] = '\0';
    return true;
}

}  // namespace Core_Common
