#include "native_host.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "../server/process_testing.h"
#include "native_messages.h"

namespace Zorvane_Native {
namespace {

using json = nlohmann::json;

std::string frame(const std::string& body) { return encode_frame(body); }

std::string call(int id, const std::string& method, const json& params = json::object()) {
    return frame(json({{"id", id}, {"method", method}, {"params", params}}).dump());
}

// Everything on standard output, as frames; fails when anything else is
// there.
std::vector<json> frames_of(const std::string& out) {
    std::vector<json> got;
    std::size_t at = 0;
    while (at < out.size()) {
        EXPECT_GE(out.size() - at, 4u) << "bytes that are no frame on standard output";
        if (out.size() - at < 4) break;
        std::uint32_t n = 0;
        std::memcpy(&n, out.data() + at, 4);
        EXPECT_LE(n, kMaxOutgoing);
        EXPECT_LE(at + 4 + n, out.size());
        got.push_back(json::parse(out.substr(at + 4, n)));
        at += 4 + n;
    }
    return got;
}

// The real program, fed what a broken or hostile extension could send: each
// fault gets a clear answer (with the call's id when it has one) and never
// reaches the engine, the stream stays in step after a frame over the limit,
// standard output carries frames only, and the end of input inside a frame
// is a clean exit.
TEST(NativeHostProgram, BadInputGetsClearAnswersAndAHealthyStream) {
    const std::string home = ::testing::TempDir() + "native_host_home_" + std::to_string(getpid());
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    const std::string profile = "testprofile01";
    std::string input;
    input += call(1, "noSuchMethod");
    input += frame("{\"id\": 2, \"method\": ");  // not JSON
    input += frame("[1, 2, 3]");                 // not an object
    input += frame("{\"id\": 4, \"method\": \"status\", \"params\": " + std::string(40, '[') +
                   std::string(40, ']') + "}");                // too deep
    input += encode_frame("");                                 // empty frame
    input += call(6, "sync");                                  // before open
    input += call(7, "addNodes", {{"nodes", json::array()}});  // before beginTree
    input += call(8, "open", {{"profile", "../../etc"}, {"user", "a"}});
    input += call(9, "open", {{"profile", profile}, {"user", "alice"}, {"server", "127.0.0.1:9"}});
    input += call(
        10, "setAccount",
        {{"profile", profile}, {"user", "alice"}, {"server", "127.0.0.1:9"}, {"password", "pw"}});
    const std::size_t big = kMaxIncoming + 1000;
    std::string over(4, '\0');
    std::uint32_t n = static_cast<std::uint32_t>(big);
    std::memcpy(over.data(), &n, 4);
    input += over + std::string(big, '{');  // over the limit
    input += call(12, "beginTree", {{"browser", "netscape"}});
    input += call(13, "beginTree", {{"browser", "chromium"}});
    input += call(14, "addNodes", {{"nodes", {{"1", "0", "x", "", "", 0, ""}}}});
    input += call(15, "endTree");
    input += frame("{\"id\": 16, \"method\": \"status\"}").substr(0, 10);  // cut short

    const auto r =
        Core_Server::testing::run_process(ZV_NATIVE_HOST_BINARY, {"chrome-extension://abc/"},
                                          {{"HOME", home},
                                           {"XDG_DATA_HOME", ""},
                                           {"DBUS_SESSION_BUS_ADDRESS", ""},
                                           {"ZORVANE_NO_KEYRING", "1"}},
                                          input);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ended inside a message"), std::string::npos) << r.err;
    const std::vector<json> got = frames_of(r.out);
    const std::vector<std::pair<json, std::string>> want = {
        {1, "unknown_method"},
        {nullptr, "bad_json"},
        {nullptr, "bad_request"},
        {nullptr, "too_deep"},
        {nullptr, "bad_frame"},
        {6, "not_open"},
        {7, "bad_order"},
        {8, "bad_params"},
        {9, "no_password"},
        {10, ""},
        {nullptr, "bad_frame"},
        {12, "bad_params"},
        {13, ""},
        {14, "bad_params"},
        {15, "bad_tree"},
    };
    ASSERT_EQ(got.size(), want.size()) << r.out;
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(got[i].dump());
        EXPECT_EQ(got[i]["id"], want[i].first);
        if (want[i].second.empty()) {
            EXPECT_TRUE(got[i].contains("result"));
        } else {
            EXPECT_EQ(got[i]["error"]["code"], want[i].second);
            EXPECT_FALSE(got[i]["error"]["message"].get<std::string>().empty());
        }
    }
    EXPECT_EQ(got[10]["error"]["message"],
              "a message of " + std::to_string(big) + " bytes, over the limit of 1048576");
    // Nothing was made outside the user's data directory; the password file
    // and its directory are private.
    EXPECT_FALSE(std::filesystem::exists(home + "/.local/share/etc"));
    const std::string dir =
        home + "/.local/share/zorvane/browser/" + profile + "/alice@127.0.0.1:9";
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((dir + "/password").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace Zorvane_Native
