// Test support (tests and benches only): a scratch directory.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace Core_Platform::testing {

// A new empty directory under the system's temporary directory, its name
// starting with `prefix`, removed with everything in it when the object
// goes. Throws std::runtime_error when no directory can be made.
class temp_dir_t {
public:
    explicit temp_dir_t(const std::string& prefix = "zvtest") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + ".XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a directory like " + pattern);
        }
        m_path = pattern;
    }
    ~temp_dir_t() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    temp_dir_t(const temp_dir_t&) = delete;
    temp_dir_t& operator=(const temp_dir_t&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace Core_Platform::testing
