#include "common/log_file_sink.h"

#include "platform/strings.h"

namespace Core_Common {

InterfaceLogCallbackFile::InterfaceLogCallbackFile(const std::u16string& path)
    : InterfaceLogCallbackFile(Core_Platform::wide_to_utf8(path)) {}

InterfaceLogCallbackFile::InterfaceLogCallbackFile(const std::string& path) : m_path(path) {
    open_fresh();
}

InterfaceLogCallbackFile::~InterfaceLogCallbackFile() {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    m_file.close();
}

void InterfaceLogCallbackFile::open_fresh() {
    if (m_path.empty()) {
        return;
    }
    if (Core_Platform::is_regular_file(m_path)) {
        Core_Platform::remove_file(m_path);
    }
    // Truncating matters only when the old file could not be deleted: its
    // stale bytes would otherwise remain behind the new lines.
    m_file.open_read_write(m_path, /*truncate=*/true);
}

void InterfaceLogCallbackFile::on_line(std::int32_t /*context*/, const std::string& line) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (!m_file.is_open()) {
        return;
    }
    if (m_max_size != 0 && m_file.position() > m_max_size) {
        m_file.close();
        open_fresh();
        if (!m_file.is_open()) {
            return;
        }
    }
    m_file.write(line.data(), line.size());
}

bool InterfaceLogCallbackFile::is_open() const {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return m_file.is_open();
}

}  // namespace Core_Common
