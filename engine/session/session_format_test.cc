#include "session/session_format.h"

#include <gtest/gtest.h>

#include "common/size_limits.h"
#include "session/soap_session.h"

namespace Core_SOAPClient {
namespace {

class waiting_operation final : public soap_wire_handler_t {
public:
    void reply(const char*, std::size_t, std::uint32_t) override { ++replies; }
    void fail(const Core_Common::service_error_t& error,
              const boost::system::error_code& ec) override {
        errors.push_back(error);
        last_code = ec;
    }
    int replies = 0;
    std::vector<Core_Common::service_error_t> errors;
    boost::system::error_code last_code;
};

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

class SessionFormat : public ::testing::Test {
protected:
    SessionFormat() : session(soap_servlet_t{"host", 1, nullptr}, 0x0102030405060708ull) {
        session.m_waiting = &waiting;
    }
    std::int32_t parse(const std::string& data) {
        bool delivered = false;
        std::int32_t result = parse_reply(session, data.data(), data.size(), delivered);
        EXPECT_FALSE(delivered);
        return result;
    }
    waiting_operation waiting;
    soap_hold_t session;
};

TEST_F(SessionFormat, RequestIsPreambleHeaderAndBody) {
    const std::string request = build_request(0x0102030405060708ull, 0, "", std::string(100, 'b'));
    ASSERT_EQ(request.size(), 138u);
    EXPECT_EQ(request.substr(0, 16), "3A9C1E07B5D2F846");
    EXPECT_EQ(request.substr(16, 8), bytes({0x00, 0x16, 0x00, 0x01, 0x00, 0x00, 0x00, 0x64}));
    EXPECT_EQ(request.substr(24, 8), bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(request.substr(32, 6), std::string(6, '\0'));
    const std::string with_text = build_request(9, 0xA0B0C0D0u, "hdr", "xy");
    EXPECT_EQ(with_text.substr(16, 2), bytes({0x00, 22 + 3}));
    EXPECT_EQ(with_text.substr(32, 9), bytes({0xA0, 0xB0, 0xC0, 0xD0, 0x00, 0x03, 'h', 'd', 'r'}));
    EXPECT_EQ(with_text.substr(41), "xy");
}

TEST_F(SessionFormat, IncompleteRepliesConsumeNothingAndReportNothing) {
    EXPECT_EQ(parse(bytes({0, 20, 0, 1, 0, 0, 0})), 0);              // 7 bytes
    EXPECT_EQ(parse(bytes({0, 30, 0, 1, 0, 0, 0, 0, 1, 2, 3})), 0);  // header not all there
    std::string header_only =
        bytes({0, 20, 0, 1, 0, 0, 0, 5, 1, 2, 3, 4, 5, 6, 7, 8}) + std::string(4, '\0');
    EXPECT_EQ(parse(header_only), 0);  // body missing
    // The largest reply a packed message makes is still waited for.
    const std::size_t largest = Core_Common::max_reply_bytes - 22;
    std::string large = bytes({0, 22, 0, 1}) + std::string(18, '\0');
    for (int i = 0; i < 4; ++i) large[4 + i] = static_cast<char>(largest >> (24 - 8 * i));
    EXPECT_EQ(parse(large), 0);
    EXPECT_EQ(waiting.replies, 0);
    EXPECT_TRUE(waiting.errors.empty());
    EXPECT_EQ(session.m_waiting, &waiting);
}

TEST_F(SessionFormat, FailedChecksReportOnceAndCloseAtOnce) {
    EXPECT_EQ(parse(bytes({0, 5, 0, 1, 0, 0, 0, 0})), -1);
    ASSERT_EQ(waiting.errors.size(), 1u);
    EXPECT_EQ(waiting.errors[0].code, 4);
    EXPECT_EQ(waiting.errors[0].message, u"Invalid SOAP Protocol Header.");
    EXPECT_FALSE(waiting.last_code);
    EXPECT_EQ(session.m_waiting, nullptr);
    // No one waits any more: the next failure closes without a report.
    EXPECT_EQ(parse(bytes({0, 5, 0, 1, 0, 0, 0, 0})), -1);
    EXPECT_EQ(waiting.errors.size(), 1u);

    session.m_waiting = &waiting;
    EXPECT_EQ(parse(bytes({0, 22, 1, 0}) + std::string(18, '\0')), -1);
    EXPECT_EQ(waiting.errors.back().message, u"Invalid SOAP Protocol Version.");

    session.m_waiting = &waiting;
    EXPECT_EQ(
        parse(bytes({0, 20, 0, 1, 0, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1}) + std::string(4, '\0')), -1);
    EXPECT_EQ(waiting.errors.back().message, u"Invalid SOAP Session.");

    // Lengths beyond any reply of the protocol fail at once rather than
    // have the link buffer them.
    session.m_waiting = &waiting;
    std::string beyond = bytes({0, 22, 0, 1}) + std::string(18, '\0');
    const std::size_t body = Core_Common::max_reply_bytes - 22 + 1;
    for (int i = 0; i < 4; ++i) beyond[4 + i] = static_cast<char>(body >> (24 - 8 * i));
    EXPECT_EQ(parse(beyond), -1);
    EXPECT_EQ(waiting.errors.back().message, u"Reply Too Large.");
    session.m_waiting = &waiting;
    EXPECT_EQ(
        parse(bytes({0xFF, 0xFF, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF}) + std::string(0xFFFF - 8, '\0')),
        -1);
    EXPECT_EQ(waiting.errors.back().message, u"Reply Too Large.");
    EXPECT_EQ(waiting.replies, 0);
}

}  // namespace
}  // namespace Core_SOAPClient
