// The real zorvane-native-host against a real zorvane-server, each sync on
// a host process of its own as the extension runs it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "host_process_testing.h"
#include "native_host.h"
#include "platform/temp_dir_testing.h"
#include "process_testing.h"
#include "server_process_testing.h"

namespace Zorvane_Native {
namespace {

using testing::browser_store_t;
using testing::host_process_t;
using testing::json;
using testing::sync_browser;
using testing::sync_options_t;
using testing::sync_outcome_t;

constexpr const char* kUser = "alice";
constexpr const char* kPassword = "horse battery";

class NativeHostSync : public ::testing::Test {
protected:
    void SetUp() override {
        m_temp = std::make_unique<Core_Platform::testing::temp_dir_t>("zvhost");
        m_dir = m_temp->path().string();
        const std::string store = "sqlite:" + path("server.db");
        const auto added = Core_Server::testing::run_process(
            ZV_SERVER_BINARY, {"--store", store, "user", "add", kUser, "--password-stdin"}, {},
            std::string(kPassword) + "\n");
        ASSERT_EQ(added.status, 0) << added.out << added.err;
        m_server = std::make_unique<Core_Server::testing::server_process_t>(store);
    }
    void TearDown() override {
        m_server.reset();
        m_temp.reset();
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
                        browser_store_t& browser, bool& dirty,
                        const testing::sync_options_t& options = {}) {
        auto h = host(computer);
        sync_outcome_t out = sync_browser(*h, browser, account(profile), dirty, options);
        EXPECT_EQ(h->wait(), 0);
        return out;
    }

    std::unique_ptr<Core_Platform::testing::temp_dir_t> m_temp;
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

// A background stopped part-way through applying a sync leaves the browser
// with part of the account's tree while the record holds all of it. The
// next sync goes on with that apply (the user changed nothing), or merges
// the browser's tree in (the user did): either way the browser ends with
// everything and nothing it lacked is deleted from the account.
TEST_F(NativeHostSync, AnApplyCutShortIsTakenUpAgainAndLosesNothing) {
    browser_store_t holder;
    for (int i = 0; i < 12; ++i)
        holder.add("1", "H" + std::to_string(i), "https://h" + std::to_string(i) + ".example/");
    bool holder_dirty = true;
    join("holder", "holderprofile");
    ASSERT_EQ(sync("holder", "holderprofile", holder, holder_dirty).status, "OK");

    browser_store_t other;
    other.add("2", "Own", "https://own.example/");
    bool other_dirty = true;
    join("other", "otherprofile");
    sync_options_t cut;
    cut.page_limit = 4;
    cut.stop_after_pages = 1;
    ASSERT_EQ(sync("other", "otherprofile", other, other_dirty, cut).status, "stopped");
    ASSERT_EQ(other.bookmarks().size(), 1u + 4u);

    // The background starts again; the user changed nothing since.
    other_dirty = false;
    sync_options_t quiet;
    quiet.edited = false;
    sync_outcome_t r = sync("other", "otherprofile", other, other_dirty, quiet);
    EXPECT_TRUE(r.applying);
    EXPECT_TRUE(r.sent_tree);
    EXPECT_EQ(r.status, "OK");
    EXPECT_EQ(r.removed, json::array());
    EXPECT_EQ(other.bookmarks().size(), 13u);

    other.add("2", "After", "https://after.example/");
    other_dirty = true;
    ASSERT_EQ(sync("other", "otherprofile", other, other_dirty).status, "OK");
    holder_dirty = false;
    r = sync("holder", "holderprofile", holder, holder_dirty);
    EXPECT_EQ(r.removed, json::array());
    EXPECT_EQ(holder.bookmarks().size(), 14u);
    EXPECT_EQ(holder.bookmarks(), other.bookmarks());

    // Cut short again (news the browser had not read its tree for), and
    // this time the user adds a bookmark before the next sync.
    for (int i = 0; i < 6; ++i)
        holder.add("1", "N" + std::to_string(i), "https://n" + std::to_string(i) + ".example/");
    holder_dirty = true;
    ASSERT_EQ(sync("holder", "holderprofile", holder, holder_dirty).status, "OK");
    ASSERT_EQ(sync("other", "otherprofile", other, other_dirty, cut).status, "stopped");
    other.add("2", "Gap", "https://gap.example/");
    other_dirty = true;
    r = sync("other", "otherprofile", other, other_dirty);
    EXPECT_TRUE(r.applying);
    EXPECT_EQ(r.status, "OK");
    EXPECT_EQ(r.removed, json::array());
    holder_dirty = false;
    r = sync("holder", "holderprofile", holder, holder_dirty);
    EXPECT_EQ(r.removed, json::array());
    EXPECT_EQ(holder.bookmarks().size(), 21u);
    EXPECT_EQ(holder.bookmarks(), other.bookmarks());
    // Both in step now: nothing to do, and no apply left open.
    r = sync("other", "otherprofile", other, other_dirty);
    EXPECT_FALSE(r.applying);
    EXPECT_EQ(r.operations, 0u);
}

// A bookmark that just fits one message from the browser makes an
// operation too large for one message back (an operation says more than
// the node did). The other browser's page of operations is then refused
// with an error naming the bookmark, never left unanswered, and the host
// stays in step.
TEST_F(NativeHostSync, AnOperationTooLargeForOneMessageIsRefusedClearly) {
    join("holder", "holderprofile");
    browser_store_t holder;
    holder.add("1", "Small", "https://small.example/");
    const std::string address = "https://big.example/?" + std::string(kMaxIncoming - 120, 'a');
    const std::string big = holder.add("1", "Huge", address);
    {
        auto h = host("holder");
        h->result("open", account("holderprofile"));
        h->result("beginTree", {{"browser", "chromium"}});
        json nodes = holder.records();
        json alone = json::array();
        for (auto it = nodes.begin(); it != nodes.end(); ++it) {
            if ((*it)[0] == big) {
                alone.push_back(*it);
                nodes.erase(it);
                break;
            }
        }
        h->result("addNodes", {{"nodes", nodes}});
        // The node takes a message of its own, within the limit.
        ASSERT_LE(testing::call_frame(4, "addNodes", {{"nodes", alone}}).size() - 4, kMaxIncoming);
        h->result("addNodes", {{"nodes", alone}});
        h->result("endTree");
        ASSERT_EQ(h->result("sync", {{"mode", "ask"}})["status"], "OK");
        EXPECT_EQ(h->wait(), 0);
    }

    join("other", "otherprofile");
    browser_store_t other;
    auto h = host("other");
    h->result("open", account("otherprofile"));
    h->result("beginTree", {{"browser", "chromium"}});
    h->result("addNodes", {{"nodes", other.records()}});
    h->result("endTree");
    const json r = h->result("sync", {{"mode", "ask"}});
    ASSERT_EQ(r["status"], "OK");
    ASSERT_EQ(r["operations"], 2);
    json page = h->call("operations", {{"offset", 0}});
    std::size_t pages = 1;
    while (page.contains("result") && !page["result"]["next"].is_null() && pages++ < 3)
        page = h->call("operations", {{"offset", page["result"]["next"]}});
    ASSERT_TRUE(page.contains("error")) << page.dump().substr(0, 300);
    EXPECT_EQ(page["error"]["code"], "too_large");
    EXPECT_NE(page["error"]["message"].get<std::string>().find("\"Huge\""), std::string::npos)
        << page["error"]["message"];
    EXPECT_EQ(h->result("status")["user"], kUser);
    EXPECT_EQ(h->wait(), 0);
}

// One host per account: a second one is refused with a clear answer (here
// at once; the extension's own calls wait for the first to end), stays in
// step, and opens the account once the first has gone.
TEST_F(NativeHostSync, ASecondHostOfTheAccountIsRefusedClearly) {
    join("pc", "lockprofile");
    auto first = host("pc");
    first->result("open", account("lockprofile"));
    auto second = host("pc");
    json params = account("lockprofile");
    params["wait"] = 0;
    const json refused = second->call("open", params);
    ASSERT_TRUE(refused.contains("error")) << refused.dump();
    EXPECT_EQ(refused["error"]["code"], "busy");
    EXPECT_NE(refused["error"]["message"].get<std::string>().find("another zorvane-native-host"),
              std::string::npos);
    EXPECT_EQ(second->call("status")["error"]["code"], "not_open");
    EXPECT_EQ(first->result("status")["user"], kUser);
    EXPECT_EQ(first->wait(), 0);
    EXPECT_EQ(second->result("open", params)["user"], kUser);
    params["wait"] = 71;
    EXPECT_EQ(host("pc")->call("open", params)["error"]["code"], "bad_params");
}

// The password goes to the keyring when one runs (a real gnome-keyring on a
// private session bus), else, with a bus but no keyring or with no bus at
// all, to a 0600 file; either way the next call finds it and the server
// takes it.
TEST_F(NativeHostSync, ThePasswordGoesToTheKeyringElseToAPrivateFile) {
    if (!std::filesystem::exists("/usr/bin/gnome-keyring-daemon") ||
        !std::filesystem::exists("/usr/bin/dbus-run-session"))
        GTEST_SKIP() << "gnome-keyring or dbus-run-session is missing (scripts/install-deps)";
    struct way_t {
        std::string profile;
        std::vector<std::string> wrapper;  // the program the host runs under
        std::string stored;
    };
    const std::string start_keyring =
        "echo -n unlock | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "
        "exec \"$0\" chrome-extension://test/";
    const std::vector<way_t> ways = {
        {"keyringprofile",
         {"/usr/bin/dbus-run-session", "--", "/bin/sh", "-c", start_keyring},
         "keyring"},
        {"busonlyprofile",
         {"/usr/bin/dbus-run-session", "--", "/bin/sh", "-c",
          "exec \"$0\" chrome-extension://test/"},
         "file"},
        {"nobusprofile", {}, "file"},
    };
    for (const way_t& way : ways) {
        SCOPED_TRACE(way.profile);
        const std::string h = home("keyring-" + way.profile);
        std::filesystem::create_directories(h + "/run");
        std::filesystem::permissions(h + "/run", std::filesystem::perms::owner_all);
        json set = account(way.profile);
        set["password"] = kPassword;
        const std::string input = testing::call_frame(1, "setAccount", set) +
                                  testing::call_frame(2, "open", account(way.profile)) +
                                  testing::call_frame(3, "update", json::object());
        std::vector<std::string> args(way.wrapper.begin() + (way.wrapper.empty() ? 0 : 1),
                                      way.wrapper.end());
        if (!way.wrapper.empty()) args.push_back(ZV_NATIVE_HOST_BINARY);
        const auto r = Core_Server::testing::run_process(
            way.wrapper.empty() ? std::string(ZV_NATIVE_HOST_BINARY) : way.wrapper[0], args,
            {{"HOME", h},
             {"XDG_RUNTIME_DIR", h + "/run"},
             {"XDG_DATA_HOME", ""},
             {"DBUS_SESSION_BUS_ADDRESS", ""},
             {"ZORVANE_NO_KEYRING", ""}},
            input);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<json> got;
        for (json& m : testing::messages_of(r.out))
            if (!m.contains("event")) got.push_back(std::move(m));
        ASSERT_EQ(got.size(), 3u) << r.out << r.err;
        EXPECT_EQ(got[0]["result"]["stored"], way.stored) << got[0].dump();
        EXPECT_EQ(got[1]["result"]["user"], kUser) << got[1].dump();
        const std::string status = got[2]["result"].value("status", "");
        EXPECT_TRUE(status == "OK" || status == "zorvane.kernel.status.no_record") << got[2].dump();
        const std::string file = h + "/.local/share/zorvane/browser/" + way.profile + "/" + kUser +
                                 "@127.0.0.1:" + std::to_string(m_server->port()) + "/password";
        if (way.stored == "keyring") {
            EXPECT_FALSE(std::filesystem::exists(file));
            EXPECT_TRUE(std::filesystem::exists(h + "/.local/share/keyrings"));
        } else {
            ASSERT_TRUE(std::filesystem::exists(file));
            EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            std::ifstream in(file);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kPassword);
        }
    }
}

}  // namespace
}  // namespace Zorvane_Native
