#include "sync_client/sync_payload.h"

#include <gtest/gtest.h>

#include "sync_client/sync_test_support.h"

namespace Core_ZorvaneClient {
namespace {

using namespace Core_ZorvaneClient::testing;

TEST(SyncPayload, LayoutIsBigEndianLengthsThenBothParts) {
    const std::string payload = make_payload("abc", "");
    EXPECT_EQ(payload, std::string("\0\0\0\3\0\0\0\0abc", 11));
    const std::string big = make_payload(std::string(0x0102, 'x'), std::string(0x030405, 'y'));
    EXPECT_EQ(big.substr(0, 8), std::string("\0\0\x01\x02\0\x03\x04\x05", 8));
    EXPECT_EQ(big.size(), 8u + 0x0102 + 0x030405);
    // Built around the data part, the same bytes.
    EXPECT_EQ(make_payload_around(std::string(0x0102, 'x'), std::string(0x030405, 'y')), big);
    EXPECT_EQ(make_payload_around("abc", std::string()), payload);
    std::string roomy = "data";
    roomy.reserve(1000);
    EXPECT_EQ(make_payload_around("<a/>", std::move(roomy)), make_payload("<a/>", "data"));
}

TEST(SyncPayload, SplitKeepsTheDataPartInTheBuffer) {
    std::string buffer = be32(3) + be32(2) + "xmlDD";
    std::string xml;
    const Core_Common::service_error_t ok = split_payload(buffer, xml);
    EXPECT_EQ(ok.code, 0);
    EXPECT_EQ(xml, "xml");
    EXPECT_EQ(buffer, "DD");

    buffer = be32(0) + be32(0);
    EXPECT_EQ(split_payload(buffer, xml).code, 0);
    EXPECT_EQ(xml, "");
    EXPECT_EQ(buffer, "");
}

TEST(SyncPayload, SplitRefusesInconsistentLengths) {
    const std::vector<std::string> bad = {
        "",
        std::string(7, '\0'),
        be32(4) + be32(0) + "xml",          // X past the end
        be32(3) + be32(1) + "xml",          // D larger than the rest
        be32(3) + be32(0) + "xmlD",         // D smaller than the rest
        be32(0xFFFFFFFFu) + be32(0) + "x",  // X near the limit of 32 bits
        be32(1) + be32(0xFFFFFFFFu) + "x",
    };
    for (const std::string& b : bad) {
        std::string buffer = b;
        std::string xml;
        const Core_Common::service_error_t result = split_payload(buffer, xml);
        EXPECT_EQ(result.code, 4) << b.size();
        EXPECT_EQ(result.message, u"Invalid Extend Protocol.");
    }
}

TEST(SyncPayload, PackedPayloadOpensWithAnIndependentDecoder) {
    std::string body = make_payload("<a/>", "data");
    ASSERT_TRUE(pack_payload(body));
    std::string plain;
    ASSERT_TRUE(unseal(kMessageKey, body, plain));
    EXPECT_EQ(plain, be32(4) + be32(4) + "<a/>data");
    // Packed as it is written, the data part in pieces, the message opens
    // to the same payload.
    const std::string tree(3 << 20, 't');
    std::size_t data_size = 0;
    ASSERT_TRUE(pack_message(
        "<b/>",
        [&](const std::function<void(std::string_view)>& put) {
            for (std::size_t at = 0; at < tree.size(); at += 100000) {
                put(std::string_view(tree).substr(at, 100000));
            }
        },
        body, data_size));
    EXPECT_EQ(data_size, tree.size());
    ASSERT_TRUE(unseal(kMessageKey, body, plain));
    EXPECT_TRUE(plain == be32(4) + be32(3 << 20) + "<b/>" + tree);
}

TEST(SyncPayload, OpenReplyFindsTheResponseAndTheDataPart) {
    Core_Common::xml_node_t document;
    std::string data;
    ASSERT_TRUE(open_reply(reply_body(response("result=\"OK\""), "tree"), document, data));
    EXPECT_NE(document.find_path(u"Zorvane/Response"), nullptr);
    EXPECT_EQ(data, "tree");

    // Any root element will do.
    ASSERT_TRUE(
        open_reply(reply_body("<Other><Zorvane><Response/></Zorvane></Other>"), document, data));
    EXPECT_EQ(data, "");

    EXPECT_FALSE(open_reply(reply_body("<Zorvane><Response/></Zorvane>"), document, data));
    EXPECT_FALSE(open_reply(reply_body("not xml"), document, data));
    EXPECT_FALSE(open_reply(seal(kMessageKey, "1234567"), document, data));
    EXPECT_FALSE(open_reply(seal("wrong", be32(0) + be32(0)), document, data));
    EXPECT_FALSE(open_reply("", document, data));
}

TEST(SyncPayload, OpenReplyRefusesHostileDocuments) {
    Core_Common::xml_node_t document;
    std::string data;
    // A reply of a hostile server: nested entities, a type declaration,
    // a flood of elements, a deep or oversized document.
    std::string laughs = "<!DOCTYPE Zorvane [<!ENTITY a0 \"xxxxxxxxxxxxxxxx\">";
    for (int i = 1; i < 12; ++i) {
        laughs += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) laughs += "&a" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    std::string flood;
    for (int i = 0; i < 70; ++i) flood += "<a/>";
    for (const std::string& xml :
         {laughs + "]><Zorvane><Zorvane><Response result=\"&a11;\"/></Zorvane></Zorvane>",
          std::string("<!DOCTYPE Zorvane><Zorvane><Zorvane><Response/></Zorvane></Zorvane>"),
          "<Zorvane><Zorvane><Response>" + flood + "</Response></Zorvane></Zorvane>",
          std::string("<Zorvane><Zorvane><Response><a><b><c><d><e><f/></e></d></c></b></a>"
                      "</Response></Zorvane></Zorvane>"),
          "<Zorvane><Zorvane><Response result_message=\"" + std::string(kMaxReplyXmlBytes, 'm') +
              "\"/></Zorvane></Zorvane>"}) {
        EXPECT_FALSE(open_reply(reply_body(xml), document, data)) << xml.substr(0, 80);
    }
    // Within the bounds: fine.
    EXPECT_TRUE(open_reply(reply_body("<Zorvane><Zorvane><Response>" + flood.substr(0, 200) +
                                      "</Response></Zorvane></Zorvane>"),
                           document, data));
}

}  // namespace
}  // namespace Core_ZorvaneClient
