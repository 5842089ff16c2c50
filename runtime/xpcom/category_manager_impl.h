// Internal to the runtime: the category manager
// (xpcom/ns_category_manager.h states its contract).
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "glue/supports.h"
#include "xpcom/ns_category_manager.h"

namespace zv_runtime {

inline constexpr nsCID CATEGORY_MANAGER_CID =
    ns_id_literal("{4f059446-b064-4db5-aa3f-cf3166334662}");

class category_manager_impl final
    : public zv_glue::supports<category_manager_impl, nsICategoryManager> {
public:
    category_manager_impl() = default;

    nsresult GetCategoryEntry(const char* category, const char* entry, char** value) override;
    nsresult AddCategoryEntry(const char* category, const char* entry, const char* value,
                              bool persist, bool replace, char** old_value) override;
    nsresult DeleteCategoryEntry(const char* category, const char* entry, bool persist) override;
    nsresult DeleteCategory(const char* category) override;

private:
    friend supports;
    ~category_manager_impl() = default;

    std::mutex m_lock;
    std::map<std::string, std::map<std::string, std::string>> m_categories;
};

}  // namespace zv_runtime
