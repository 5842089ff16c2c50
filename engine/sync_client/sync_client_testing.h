// Test support, internal to the sync client's tests: an encoder of sync
// messages and local files written independently of the client's own
// builders (zlib directly, the byte layout by hand, only the cipher envelope
// taken from the codecs), and a session transport that answers the client's
// requests with scripted replies through the real message queue.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/crypto.h"
#include "common/xml_node.h"
#include "platform/temp_dir_testing.h"
#include "session/scripted_transport_testing.h"

namespace Core_ZorvaneClient::testing {

inline const std::string kMessageKey = "k7Tq#w2Lp9z";
inline const std::string kStoreKey = "Rm4$xQ8!aJ3";

inline std::string be32(std::uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * (3 - i))) & 0xFF);
    return out;
}

inline std::string zlib_gzip(const std::string& plain) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, plain.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// False when `packed` is not one whole gzip member.
inline bool zlib_gunzip(const std::string& packed, std::string& plain) {
    z_stream z{};
    if (inflateInit2(&z, 16 + 15) != Z_OK) return false;
    plain.clear();
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    z.avail_in = static_cast<uInt>(packed.size());
    int rc = Z_OK;
    char buffer[16384];
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        plain.append(buffer, sizeof buffer - z.avail_out);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole;
}

inline std::string seal(const std::string& key, const std::string& plain) {
    std::string bytes = zlib_gzip(plain);
    EXPECT_TRUE(Core_Common::encrypt(key, bytes));
    return bytes;
}

inline bool unseal(const std::string& key, std::string bytes, std::string& plain) {
    return Core_Common::decrypt(key, bytes) && zlib_gunzip(bytes, plain);
}

// The reply body for a reply document and a data part.
inline std::string reply_body(const std::string& xml, const std::string& data = std::string()) {
    return seal(kMessageKey, be32(static_cast<std::uint32_t>(xml.size())) +
                                 be32(static_cast<std::uint32_t>(data.size())) + xml + data);
}

// A request as the server sees it.
struct request_t {
    std::string xml;
    std::string data;
    Core_Common::xml_node_t document;

    // The action element ("Update" or "Commit"), or null.
    const Core_Common::xml_node_t* action() const {
        const Core_Common::xml_node_t* request = document.find_path(u"Zorvane/Request");
        if (request == nullptr || request->children.size() != 1) return nullptr;
        return request->children[0];
    }
    std::u16string action_name() const { return action() ? action()->name : u""; }
    std::string field(const char16_t* name) const {
        std::string value = "<absent>";
        if (action()) action()->get_child(name, value);
        return value;
    }
    std::vector<std::u16string> field_names() const {
        std::vector<std::u16string> names;
        if (action()) {
            for (const auto* child : action()->children) names.push_back(child->name);
        }
        return names;
    }
};

inline request_t open_request(const std::string& body) {
    request_t r;
    std::string plain;
    EXPECT_TRUE(unseal(kMessageKey, body, plain)) << "request does not open";
    if (plain.size() < 8) {
        ADD_FAILURE() << "request payload shorter than 8 bytes";
        return r;
    }
    auto get = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(plain[at + i]);
        return v;
    };
    const std::uint32_t x = get(0), d = get(4);
    EXPECT_EQ(plain.size(), 8u + x + d);
    r.xml = plain.substr(8, x);
    r.data = plain.substr(8 + x);
    EXPECT_TRUE(r.document.parse(r.xml));
    EXPECT_EQ(r.document.name, u"Zorvane");
    return r;
}

// Replies of the server, written as text.
inline std::string response(const std::string& attributes, const std::string& inner = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Zorvane><Zorvane><Response" +
           (attributes.empty() ? std::string() : " " + attributes) + ">" + inner +
           "</Response></Zorvane></Zorvane>";
}

// The session client's scripted transport (session/scripted_transport.h),
// seen the way these tests ask about it: request bodies, the one waiting
// session, and how many sessions the client abandoned.
class scripted_transport {
public:
    // The request bodies, oldest first.
    std::vector<std::string> requests() const {
        std::vector<std::string> bodies;
        for (const auto& r : m_transport.requests()) bodies.push_back(r.m_body);
        return bodies;
    }
    const Core_SOAPClient::scripted_transport_t::request_t& request(std::size_t i) const {
        return m_transport.requests().at(i);
    }
    bool waiting() const { return m_transport.open_sessions() != 0; }
    // Sessions abandoned by the client (cancelled or replaced) unanswered.
    std::size_t cancelled() const {
        return m_transport.requests().size() - m_transport.open_sessions() - m_answered;
    }
    // Answers the waiting session with `body`; false when none waits.
    bool answer(const std::string& body) {
        if (!m_transport.reply(body)) return false;
        ++m_answered;
        return true;
    }
    // Fails the waiting session as a refused connect; false when none waits.
    bool fail() {
        if (!m_transport.fail(Core_Common::service_error_t{3, u"Connection refused"},
                              boost::system::error_code(10061, boost::system::system_category()))) {
            return false;
        }
        ++m_answered;
        return true;
    }

private:
    Core_SOAPClient::scripted_transport_t m_transport;
    std::size_t m_answered = 0;
};

// A fresh directory for one test, removed with everything in it.
class temp_directory {
public:
    explicit temp_directory(const std::string& tag) : m_dir("zorvane_" + tag) {}
    std::string path() const { return m_dir.path().string(); }
    std::u16string wide() const {
        const std::string s = path();
        return std::u16string(s.begin(), s.end());  // ASCII paths only
    }
    std::string file(const std::string& name) const { return (m_dir.path() / name).string(); }

private:
    Core_Platform::testing::temp_dir_t m_dir;
};

// A bookmark tree document: the top folder holding one bookmark per letter.
inline std::string tree_document(const std::string& letters, const std::string& extra = "") {
    std::string children;
    for (char c : letters) {
        children += std::string("<node><guid>") + c + "</guid><type>bookmark</type><name>" + c +
                    "</name><url>http://example.com/" + c + "</url></node>";
    }
    return "<nodeset><node><guid>ROOT</guid><type>folder</type><name>R</name><children>" +
           children + extra + "</children></node></nodeset>";
}

}  // namespace Core_ZorvaneClient::testing
