#include "framework/registry.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "framework/singleton.h"

namespace Core_Common {
namespace {

std::vector<std::string> g_events;

// Records its operations and its destruction by name.
class Recorder : public InterfaceModule {
public:
    explicit Recorder(std::string tag) : m_tag(std::move(tag)) {}
    ~Recorder() override { g_events.push_back(m_tag + ".destroyed"); }
    void initialize() override { g_events.push_back(m_tag + ".initialize"); }
    void start() override { g_events.push_back(m_tag + ".start"); }
    void cleanup() override { g_events.push_back(m_tag + ".cleanup"); }
    void uninitialize() override { g_events.push_back(m_tag + ".uninitialize"); }

private:
    std::string m_tag;
};

class Held : public Recorder, public Singleton<Held> {
public:
    Held() : Recorder("held") {}
};

class Throwing : public InterfaceModule {
public:
    void initialize() override { throw std::runtime_error("initialize failed"); }
    void start() override { throw std::runtime_error("start failed"); }
    void cleanup() override {}
    void uninitialize() override {}
};

class Registry : public testing::Test {
protected:
    void SetUp() override {
        destroy_registry();
        g_events.clear();
    }
    void TearDown() override { destroy_registry(); }
};

TEST_F(Registry, RegistersInOrderWithNamesAndDestroysInOrder) {
    auto* first = register_module(std::make_unique<Recorder>("a"), "First");
    auto* second = register_module(std::make_unique<Recorder>("b"), "Second");
    auto* held = new Held;
    Held::reset_instance(held);
    register_module(std::unique_ptr<InterfaceModule>(held), "Third");

    const std::vector<InterfaceModule*> modules = registered_modules();
    ASSERT_EQ(modules.size(), 3u);
    EXPECT_EQ(modules[0], first);
    EXPECT_EQ(modules[1], second);
    EXPECT_EQ(modules[2], held);
    EXPECT_EQ(first->m_name, "First");
    EXPECT_EQ(second->m_name, "Second");
    EXPECT_EQ(held->m_name, "Third");
    EXPECT_EQ(first->m_state, InterfaceModule::STATE_CREATED);

    destroy_registry();
    EXPECT_TRUE(registered_modules().empty());
    EXPECT_EQ(g_events, (std::vector<std::string>{"a.destroyed", "b.destroyed", "held.destroyed"}));
    // Destruction through the registry empties the Singleton pointer.
    EXPECT_EQ(Held::instance(), nullptr);
}

TEST_F(Registry, TransitionsFollowTheStateMachine) {
    Recorder m("m");
    // Nothing but initialize acts on a created module.
    start_module(m);
    cleanup_module(m);
    uninitialize_module(m);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_CREATED);

    initialize_module(m);
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_INITIALIZED);
    initialize_module(m);  // already initialised: no second call
    cleanup_module(m);     // only a stopped module is cleaned up
    EXPECT_EQ(g_events, std::vector<std::string>{"m.initialize"});

    start_module(m);
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_STARTED);
    start_module(m);
    initialize_module(m);
    cleanup_module(m);
    uninitialize_module(m);  // a started module is not uninitialised
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_STARTED);
    EXPECT_EQ(g_events, (std::vector<std::string>{"m.initialize", "m.start"}));

    m.m_state = InterfaceModule::STATE_STOPPED;  // as a stop operation would leave it
    start_module(m);
    uninitialize_module(m);
    cleanup_module(m);
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_INITIALIZED);
    uninitialize_module(m);
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_CREATED);
    EXPECT_EQ(g_events,
              (std::vector<std::string>{"m.initialize", "m.start", "m.cleanup", "m.uninitialize"}));
}

TEST_F(Registry, FailedOperationLeavesTheState) {
    Throwing m;
    EXPECT_THROW(initialize_module(m), std::runtime_error);
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_CREATED);
    m.m_state = InterfaceModule::STATE_INITIALIZED;
    EXPECT_THROW(start_module(m), std::runtime_error);
    EXPECT_EQ(m.m_state, InterfaceModule::STATE_INITIALIZED);
}

}  // namespace
}  // namespace Core_Common
