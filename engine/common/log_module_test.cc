#include "common/log_module.h"

#include <gtest/gtest.h>

#include "common/log_dispatcher.h"
#include "framework/registry.h"

namespace Core_Common {
namespace {

class CountingSink : public InterfaceLogCallback {
public:
    void on_line(std::int32_t, const std::string&) override { ++m_lines; }
    int m_lines = 0;
};

TEST(LogModule, DispatcherLivesFromInitializeToUninitialize) {
    set_log_enabled(true);
    CountingSink sink;
    InterfaceLog module;
    EXPECT_FALSE(LogDispatcher::exists());
    log_write(1, log_level_t::NORMAL, log_category_t::CORE, "", 0, "before");

    initialize_module(module);
    EXPECT_TRUE(LogDispatcher::exists());
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    log_write(1, log_level_t::NORMAL, log_category_t::CORE, "", 0, "during");
    EXPECT_EQ(sink.m_lines, 1);

    // A second initialize replaces the dispatcher: the sink list starts empty.
    module.initialize();
    EXPECT_TRUE(LogDispatcher::sinks().empty());
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));

    uninitialize_module(module);
    EXPECT_FALSE(LogDispatcher::exists());
    log_write(1, log_level_t::NORMAL, log_category_t::CORE, "", 0, "after");
    EXPECT_EQ(sink.m_lines, 1);
    set_log_enabled(false);
}

}  // namespace
}  // namespace Core_Common
