// The real zorvane-native-host against a real zorvane-server, each sync on
// a host process of its own as the extension runs it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "host_process_testing.h"
#include "native_host.h"
#include "process_testing.h"
#include "server_process_testing.h"

namespace Zorvane_Native {
namespace {

using testing::browser_store_t;
using testing::host_process_t;
using testing::json;
using testing::sync_browser;
using testing::sync_outcome_t;

constexpr const char* kUser = "alice";
constexpr const char* kPassword = "horse battery";

class NativeHostSync : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = std::filesystem::temp_directory_path().string() + "/zvhost.XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        m_dir = dir;
        const std::string store = "sqlite:" + path("server.db");
        const auto added = Core_Server::testing::run_process(
            ZV_SERVER_BINARY, {"--store", store, "user", "add", kUser, "--password-stdin"}, {},
            std::string(kPassword) + "\n");
        ASSERT_EQ(added.status, 0) << added.out << added.err;
        m_server = std::make_unique<Core_Server::testing::server_process_t>(store);
    }
    void TearDown() override {
        m_server.reset();
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
    }

    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    // The home directory of computer `name` (created when missing).
    std::string home(const std::string& name) {
        const std::string h = path(name);
        std::filesystem::create_directories(h);
        return h;
    }
    std::map<std::string, std::string> environment(const std::string& computer) {
        return {{"HOME", home(computer)},
                {"XDG_DATA_HOME", ""},
                {"DBUS_SESSION_BUS_ADDRESS", ""},
                {"ZORVANE_NO_KEYRING", "1"}};
    }
    std::unique_ptr<host_process_t> host(const std::string& computer) {
        return std::make_unique<host_process_t>(ZV_NATIVE_HOST_BINARY, environment(computer),
                                                path(computer + ".log"));
    }
    json account(const std::string& profile) const {
        return {{"profile", profile},
                {"server", "127.0.0.1:" + std::to_string(m_server->port())},
                {"user", kUser}};
    }
    // Keeps the password for `computer`'s profile.
    void join(const std::string& computer, const std::string& profile) {
        json params = account(profile);
        params["password"] = kPassword;
        host(computer)->result("setAccount", params);
    }
    // One sync of `browser` on a fresh host process.
    sync_outcome_t sync(const std::string& computer, const std::string& profile,
                        browser_store_t& browser, bool& dirty) {
        auto h = host(computer);
        sync_outcome_t out = sync_browser(*h, browser, account(profile), dirty);
        EXPECT_EQ(h->wait(), 0);
        return out;
    }

    std::string m_dir;
    std::unique_ptr<Core_Server::testing::server_process_t> m_server;
};

// A bookmark the browser refuses to create (here an address of a scheme it
// does not take) stays on the account: the browser that refused it syncs
// its tree again and again, and neither the account nor the browser that
// holds it loses it; the refusing browser is not asked to create it on
// every sync, and a change of its address on the account gives it another
// try.
TEST_F(NativeHostSync, ABookmarkTheBrowserRefusesStaysOnTheAccount) {
    browser_store_t holder;  // takes every address
    const std::string folder = holder.add("1", "Tools");
    holder.add(folder, "Script", "javascript:void(document.title)");
    holder.add("1", "Good", "https://good.example/");
    bool holder_dirty = true;
    join("holder", "holderprofile");
    ASSERT_EQ(sync("holder", "holderprofile", holder, holder_dirty).status, "OK");

    browser_store_t refuser;
    refuser.refuses = [](const std::string& url) { return url.rfind("javascript:", 0) == 0; };
    refuser.add("2", "Mine", "https://mine.example/");
    bool refuser_dirty = true;
    join("refuser", "refuserprofile");
    sync_outcome_t r = sync("refuser", "refuserprofile", refuser, refuser_dirty);
    EXPECT_EQ(r.refused, 1u);
    // The browser shows all it can of the account: the sync is complete.
    EXPECT_EQ(r.status, "OK");
    EXPECT_FALSE(refuser_dirty);
    EXPECT_EQ(refuser.bookmarks(),
              (std::map<std::string, std::string>{{"https://good.example/", "Good"},
                                                  {"https://mine.example/", "Mine"}}));

    // The refusing browser syncs its whole tree (a later edit of its own).
    refuser.add("2", "Later", "https://later.example/");
    refuser_dirty = true;
    r = sync("refuser", "refuserprofile", refuser, refuser_dirty);
    EXPECT_EQ(r.status, "OK");
    EXPECT_TRUE(r.sent_tree);
    EXPECT_EQ(r.refused, 0u) << "asked to create the refused bookmark again";
    r = sync("refuser", "refuserprofile", refuser, refuser_dirty);
    EXPECT_EQ(r.status, "OK");
    EXPECT_EQ(r.operations, 0u);

    // The account and the browser that holds it keep the bookmark.
    holder_dirty = false;
    r = sync("holder", "holderprofile", holder, holder_dirty);
    EXPECT_EQ(r.status, "OK");
    EXPECT_EQ(r.removed, json::array());
    EXPECT_EQ(holder.bookmarks(),
              (std::map<std::string, std::string>{{"javascript:void(document.title)", "Script"},
                                                  {"https://good.example/", "Good"},
                                                  {"https://mine.example/", "Mine"},
                                                  {"https://later.example/", "Later"}}));
    std::string server_tree;
    {
        auto h = host("holder");
        h->result("open", account("holderprofile"));
        for (json page = h->result("tree");;) {
            server_tree += page["text"].get<std::string>();
            if (page["next"].is_null()) break;
            page = h->result("tree", {{"offset", page["next"]}});
        }
    }
    EXPECT_NE(server_tree.find("javascript:void(document.title)"), std::string::npos);

    // Its address changes on the account to one the browser takes: the
    // browser gets it now.
    holder.set_url(holder.find("javascript:void(document.title)"), "https://script.example/");
    holder_dirty = true;
    ASSERT_EQ(sync("holder", "holderprofile", holder, holder_dirty).status, "OK");
    r = sync("refuser", "refuserprofile", refuser, refuser_dirty);
    EXPECT_EQ(r.status, "OK");
    EXPECT_EQ(r.refused, 0u);
    EXPECT_EQ(refuser.bookmarks(), holder.bookmarks());
}

}  // namespace
}  // namespace Zorvane_Native
