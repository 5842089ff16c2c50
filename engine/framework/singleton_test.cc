#include "framework/singleton.h"

#include <gtest/gtest.h>

#include "framework/module.h"

namespace Core_Common {
namespace {

int g_destroyed = 0;

class Probe : public InterfaceModule, public Singleton<Probe> {
public:
    ~Probe() override { ++g_destroyed; }
    void initialize() override {}
    void start() override {}
    void cleanup() override {}
    void uninitialize() override {}
};

TEST(Singleton, ResetDestroysPreviousAndDestructionEmptiesPointer) {
    g_destroyed = 0;
    EXPECT_EQ(Probe::instance(), nullptr);
    auto* first = new Probe;
    Probe::reset_instance(first);
    EXPECT_EQ(Probe::instance(), first);
    EXPECT_EQ(first->m_state, 0);
    EXPECT_TRUE(first->m_name.empty());

    auto* second = new Probe;
    Probe::reset_instance(second);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(Probe::instance(), second);

    delete second;
    EXPECT_EQ(Probe::instance(), nullptr);

    // Destroying an object that is not the held instance leaves the pointer.
    auto* third = new Probe;
    Probe::reset_instance(third);
    delete new Probe;
    EXPECT_EQ(Probe::instance(), third);
    Probe::reset_instance();
    EXPECT_EQ(Probe::instance(), nullptr);
    EXPECT_EQ(g_destroyed, 4);
}

}  // namespace
}  // namespace Core_Common
