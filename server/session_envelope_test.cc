#include "session_envelope.h"

#include <gtest/gtest.h>

#include <random>

namespace Core_Server {
namespace {

TEST(SessionEnvelope, ReadsARequestHeaderOnceItIsWhole) {
    const std::string request = make_request(0x0102030405060708ull, 7, "hdr", "body!");
    ASSERT_EQ(request.size(), 38u + 3 + 5);
    request_envelope_t e;
    for (std::size_t n = 0; n < 41; ++n) {
        EXPECT_EQ(parse_request_header(std::string_view(request).substr(0, n), e),
                  envelope_parse_enum::NEED_MORE)
            << n;
    }
    ASSERT_EQ(parse_request_header(request, e), envelope_parse_enum::COMPLETE);
    EXPECT_EQ(e.sequence, 0x0102030405060708ull);
    EXPECT_EQ(e.message_code, 7u);
    EXPECT_EQ(e.header_text, "hdr");
    EXPECT_EQ(e.body_length, 5u);
    EXPECT_EQ(e.header_size, 41u);
}

TEST(SessionEnvelope, ARequestOfThisSystemHasTheDocumentedBytes) {
    const std::string body(100, 'b');
    const std::string request = make_request(1, 0, "", body);
    ASSERT_EQ(request.size(), 138u);
    EXPECT_EQ(request.substr(0, 16), "3A9C1E07B5D2F846");
    EXPECT_EQ(request.substr(16, 8), std::string("\x00\x16\x00\x01\x00\x00\x00\x64", 8));
}

TEST(SessionEnvelope, RejectsWhatIsNotARequestAsEarlyAsPossible) {
    request_envelope_t e;
    EXPECT_EQ(parse_request_header("GET / HTTP/1.1\r\n", e), envelope_parse_enum::INVALID);
    EXPECT_EQ(parse_request_header("3A9C1E07b", e), envelope_parse_enum::INVALID);
    std::string request = make_request(1, 0, "", "x");
    std::string wrong_version = request;
    wrong_version[19] = 2;
    EXPECT_EQ(parse_request_header(wrong_version.substr(0, 20), e), envelope_parse_enum::INVALID);
    std::string wrong_length = request;
    wrong_length[17] = 23;
    EXPECT_EQ(parse_request_header(wrong_length, e), envelope_parse_enum::INVALID);
    std::string wrong_text_length = request;
    wrong_text_length[37] = 1;
    EXPECT_EQ(parse_request_header(wrong_text_length, e), envelope_parse_enum::INVALID);
}

TEST(SessionEnvelope, RepliesEchoTheSequenceWithA22ByteHeader) {
    request_envelope_t e;
    ASSERT_EQ(parse_request_header(make_request(0xfffffffffffffffeull, 9, "t", ""), e),
              envelope_parse_enum::COMPLETE);
    const std::string reply = make_reply(e, "abc");
    EXPECT_EQ(reply, std::string("\x00\x16\x00\x01\x00\x00\x00\x03"
                                 "\xff\xff\xff\xff\xff\xff\xff\xfe"
                                 "\x00\x00\x00\x09\x00\x00"
                                 "abc",
                                 25));
}

TEST(SessionEnvelope, RandomBytesNeverReadPastTheInput) {
    std::mt19937 random(20261209);
    request_envelope_t e;
    for (int i = 0; i < 20000; ++i) {
        std::string data = i % 2 ? std::string(Core_Common::kSessionPreamble) : std::string();
        const std::size_t n = random() % 64;
        for (std::size_t k = 0; k < n; ++k) data.push_back(static_cast<char>(random()));
        const auto result = parse_request_header(data, e);
        if (result == envelope_parse_enum::COMPLETE) {
            EXPECT_LE(e.header_size, data.size()) << "seed 20261209, case " << i;
        }
    }
}

}  // namespace
}  // namespace Core_Server
