#include "xpcom/category_manager_impl.h"

#include <cstring>
#include <new>

#include "xpcom/ns_memory.h"

namespace zv_runtime {
namespace {

// A copy of `text` from NS_Alloc, or null.
char* alloc_copy(const std::string& text) {
    char* copy = static_cast<char*>(NS_Alloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

nsresult category_manager_impl::GetCategoryEntry(const char* category, const char* entry,
                                                 char** value) {
    if (value == nullptr) return NS_ERROR_NULL_POINTER;
    *value = nullptr;
    if (category == nullptr || entry == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    auto c = m_categories.find(category);
    if (c == m_categories.end()) return NS_ERROR_NOT_AVAILABLE;
    auto e = c->second.find(entry);
    if (e == c->second.end()) return NS_ERROR_NOT_AVAILABLE;
    *value = alloc_copy(e->second);
    return *value != nullptr ? NS_OK : NS_ERROR_OUT_OF_MEMORY;
}

nsresult category_manager_impl::AddCategoryEntry(const char* category, const char* entry,
                                                 const char* value, bool /*persist*/, bool replace,
                                                 char** old_value) {
    if (old_value != nullptr) *old_value = nullptr;
    if (category == nullptr || entry == nullptr || value == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    try {
        auto& entries = m_categories[category];
        auto e = entries.find(entry);
        if (e == entries.end()) {
            entries.emplace(entry, value);
            return NS_OK;
        }
        if (!replace) return NS_ERROR_INVALID_ARG;
        if (old_value != nullptr) {
            *old_value = alloc_copy(e->second);
            if (*old_value == nullptr) return NS_ERROR_OUT_OF_MEMORY;
        }
        e->second = value;
        return NS_OK;
    } catch (const std::bad_alloc&) {
        return NS_ERROR_OUT_OF_MEMORY;
    }
}

nsresult category_manager_impl::DeleteCategoryEntry(const char* category, const char* entry,
                                                    bool /*persist*/) {
    if (category == nullptr || entry == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    auto c = m_categories.find(category);
    if (c != m_categories.end()) {
        c->second.erase(entry);
        if (c->second.empty()) m_categories.erase(c);
    }
    return NS_OK;
}

nsresult category_manager_impl::DeleteCategory(const char* category) {
    if (category == nullptr) return NS_ERROR_INVALID_ARG;
    std::lock_guard<std::mutex> guard(m_lock);
    m_categories.erase(category);
    return NS_OK;
}

}  // namespace zv_runtime
