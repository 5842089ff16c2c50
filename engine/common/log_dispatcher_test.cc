#include "common/log_dispatcher.h"

#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace Core_Common {
namespace {

struct call_t {
    std::string kind;  // "record" or "line"
    int sink_id;
    std::int32_t context = 0;
    std::int32_t level = 0;
    std::int32_t category = 0;
    std::string tag;
    std::string origin;
    std::int32_t origin_number = 0;
    std::string text;
};

// Records every call, in order, across sinks.
class RecordingSink : public InterfaceLogCallback {
public:
    RecordingSink(int id, std::vector<call_t>& calls, std::mutex& lock)
        : m_id(id), m_calls(calls), m_lock(lock) {}
    void on_line(std::int32_t context, const std::string& line) override {
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back({"line", m_id, context, 0, 0, "", "", 0, line});
    }
    void on_record(std::int32_t context, std::int32_t level, std::int32_t category, const char* tag,
                   const char* origin, std::int32_t origin_number,
                   const std::string& message) override {
        std::lock_guard<std::mutex> hold(m_lock);
        m_calls.push_back(
            {"record", m_id, context, level, category, tag, origin, origin_number, message});
    }

private:
    int m_id;
    std::vector<call_t>& m_calls;
    std::mutex& m_lock;
};

class LogDispatcherTest : public testing::Test {
protected:
    void SetUp() override { LogDispatcher::create(); }
    void TearDown() override {
        set_log_enabled(false);
        LogDispatcher::destroy();
    }
    std::vector<call_t> m_calls;
    std::mutex m_lock;
};

const std::regex kTime("[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{6}");

TEST_F(LogDispatcherTest, SwitchIsOffByDefaultAndSuppressesEverything) {
    EXPECT_FALSE(log_enabled());
    RecordingSink sink(1, m_calls, m_lock);
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    log_write(1, log_level_t::ERROR, log_category_t::WIRE, "", 0, "x");
    EXPECT_TRUE(m_calls.empty());
    set_log_enabled(true);
    EXPECT_TRUE(log_enabled());
    log_write(1, log_level_t::ERROR, log_category_t::WIRE, "", 0, "x");
    EXPECT_EQ(m_calls.size(), 2u);
    set_log_enabled(false);
    log_write(1, log_level_t::ERROR, log_category_t::WIRE, "", 0, "x");
    EXPECT_EQ(m_calls.size(), 2u);
}

TEST_F(LogDispatcherTest, ErrorWireOneLetterLineIs33Characters) {
    RecordingSink sink(1, m_calls, m_lock);
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    set_log_enabled(true);
    log_write(1, log_level_t::ERROR, log_category_t::WIRE, "", 0, "Q");
    ASSERT_EQ(m_calls.size(), 2u);
    const std::string& line = m_calls[1].text;
    ASSERT_EQ(line.size(), 33u) << line;
    EXPECT_EQ(line[0], '3');
    EXPECT_TRUE(std::regex_match(line.substr(1, 15), kTime)) << line;
    EXPECT_EQ(line.substr(16, 14), "[WIRE]        ");
    EXPECT_EQ(line.substr(30), "Q\r\n");
}

TEST_F(LogDispatcherTest, NormalSoftUpdateLineAndRecordParts) {
    RecordingSink sink(1, m_calls, m_lock);
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    set_log_enabled(true);
    log_write(7, log_level_t::NORMAL, log_category_t::SOFT_UPDATE, "origin.cc", 42,
              "Start Request Sync.");
    ASSERT_EQ(m_calls.size(), 2u);
    const call_t& record = m_calls[0];
    EXPECT_EQ(record.kind, "record");
    EXPECT_EQ(record.context, 7);
    EXPECT_EQ(record.level, 0);
    EXPECT_EQ(record.category, 34);
    EXPECT_EQ(record.tag, "[SOFT_UPDATE] ");
    EXPECT_EQ(record.origin, "origin.cc");
    EXPECT_EQ(record.origin_number, 42);
    EXPECT_EQ(record.text, "Start Request Sync.");
    const call_t& line = m_calls[1];
    EXPECT_EQ(line.kind, "line");
    EXPECT_EQ(line.context, 7);
    EXPECT_TRUE(
        std::regex_match(line.text, std::regex("0"
                                               "[0-9:.]{15}"
                                               "\\[SOFT_UPDATE\\] Start Request Sync\\.\r\n")))
        << line.text;
}

TEST_F(LogDispatcherTest, SinksInOrderRecordBeforeLine) {
    RecordingSink first(1, m_calls, m_lock);
    RecordingSink second(2, m_calls, m_lock);
    ASSERT_TRUE(LogDispatcher::add_sink(&first));
    ASSERT_TRUE(LogDispatcher::add_sink(&second));
    EXPECT_FALSE(LogDispatcher::add_sink(nullptr));
    EXPECT_EQ(LogDispatcher::sinks().size(), 2u);
    set_log_enabled(true);
    log_write(1, log_level_t::DEBUG, log_category_t::CORE, nullptr, 0, "m");
    ASSERT_EQ(m_calls.size(), 4u);
    EXPECT_EQ(m_calls[0].kind + std::to_string(m_calls[0].sink_id), "record1");
    EXPECT_EQ(m_calls[1].kind + std::to_string(m_calls[1].sink_id), "line1");
    EXPECT_EQ(m_calls[2].kind + std::to_string(m_calls[2].sink_id), "record2");
    EXPECT_EQ(m_calls[3].kind + std::to_string(m_calls[3].sink_id), "line2");
    EXPECT_EQ(m_calls[0].origin, "");  // a null origin reaches sinks as empty text
    EXPECT_EQ(m_calls[1].text, m_calls[3].text);

    EXPECT_TRUE(LogDispatcher::remove_sink(&first));
    EXPECT_FALSE(LogDispatcher::remove_sink(&first));
    log_write(1, log_level_t::DEBUG, log_category_t::CORE, "", 0, "m");
    ASSERT_EQ(m_calls.size(), 6u);
    EXPECT_EQ(m_calls[4].sink_id, 2);
}

TEST_F(LogDispatcherTest, NothingWithoutDispatcherOrWithInvalidValues) {
    RecordingSink sink(1, m_calls, m_lock);
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    set_log_enabled(true);
    log_write(1, static_cast<log_level_t>(4), log_category_t::CORE, "", 0, "bad level");
    log_write(1, log_level_t::ERROR, static_cast<log_category_t>(35), "", 0, "bad category");
    log_write(1, log_level_t::ERROR, static_cast<log_category_t>(-3), "", 0, "bad category");
    EXPECT_TRUE(m_calls.empty());
    EXPECT_EQ(LogDispatcher::format_line(static_cast<log_level_t>(9), log_category_t::CORE, "x"),
              "");

    LogDispatcher::destroy();
    EXPECT_FALSE(LogDispatcher::exists());
    EXPECT_TRUE(LogDispatcher::sinks().empty());
    EXPECT_FALSE(LogDispatcher::add_sink(&sink));
    log_write(1, log_level_t::ERROR, log_category_t::CORE, "", 0, "after destroy");
    EXPECT_TRUE(m_calls.empty());

    // A fresh dispatcher starts without sinks.
    LogDispatcher::create();
    EXPECT_TRUE(LogDispatcher::exists());
    EXPECT_TRUE(LogDispatcher::sinks().empty());
}

TEST_F(LogDispatcherTest, ScopesOfTheCallingThread) {
    RecordingSink sink(1, m_calls, m_lock);
    ASSERT_TRUE(LogDispatcher::add_sink(&sink));
    set_log_enabled(true);
    auto line_of = [&](const std::string& message) {
        m_calls.clear();
        log_write(1, log_level_t::NORMAL, log_category_t::GUI, "", 0, message);
        return m_calls.at(1).text.substr(30);
    };
    EXPECT_EQ(line_of("a"), "a\r\n");
    {
        log_scope empty_first("");
        EXPECT_EQ(line_of("b"), "b\r\n");  // an empty first entry writes nothing
        log_scope outer("sync");
        log_scope again("sync");
        log_scope inner("reply");
        EXPECT_EQ(line_of("c"), "[sync.reply]c\r\n");
        std::thread other([&] {
            // Another thread's lines carry only its own scopes.
            log_write(1, log_level_t::NORMAL, log_category_t::GUI, "", 0, "d");
        });
        other.join();
        EXPECT_EQ(m_calls.back().text.substr(30), "d\r\n");
        {
            log_scope back("sync");
            EXPECT_EQ(line_of("e"), "[sync.reply.sync]e\r\n");
        }
    }
    EXPECT_EQ(line_of("f"), "f\r\n");
}

TEST_F(LogDispatcherTest, ConcurrentWritersWithCreateAndDestroy) {
    set_log_enabled(true);
    RecordingSink sink(1, m_calls, m_lock);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 3; ++t) {
        writers.emplace_back([&stop] {
            while (!stop.load()) {
                log_write(1, log_level_t::WARNING, log_category_t::SOCKET_TCP, "", 0, "w");
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        LogDispatcher::destroy();
        LogDispatcher::create();
        LogDispatcher::add_sink(&sink);
    }
    stop.store(true);
    for (auto& th : writers) {
        th.join();
    }
    std::lock_guard<std::mutex> hold(m_lock);
    for (const call_t& call : m_calls) {
        if (call.kind == "line") {
            EXPECT_EQ(call.text.size(), 1u + 15u + 14u + 1u + 2u);
        }
    }
}

TEST(WriteWide, ConvertsAndSkipsEmptyOrNull) {
    std::ostringstream out;
    write_wide(out, std::u16string(u"user "));
    write_wide(out, u"\u00e9t\u00e9");
    write_wide(out, std::u16string());
    write_wide(out, static_cast<const char16_t*>(nullptr));
    write_wide(out, u"");
    EXPECT_EQ(out.str(), "user \xc3\xa9t\xc3\xa9");
}

}  // namespace
}  // namespace Core_Common
