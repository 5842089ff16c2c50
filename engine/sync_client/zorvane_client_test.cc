#include "sync_client/zorvane_client.h"

#include <gtest/gtest.h>

#include <mutex>

#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "common/log_dispatcher.h"
#include "startup/framework.h"
#include "sync_client/client_settings.h"
#include "sync_client/completion_callbacks.h"
#include "sync_client/local_store.h"
#include "sync_client/sync_client_testing.h"
#include "sync_client/zorvane_error.h"

namespace Core_ZorvaneClient {
namespace {

using namespace Core_ZorvaneClient::testing;
using boost::system::error_code;
using Core_ZorvaneMerge::zorvane_node_t;

zorvane_node_t parse(const std::string& document) {
    zorvane_node_t tree;
    Core_ZorvaneMerge::read_tree(document, tree);
    return tree;
}

std::string letters_of(const zorvane_node_t& tree) {
    std::string out;
    for (const zorvane_node_t& child : tree.children) out += child.guid;
    return out;
}

// Keeps the sync client's log lines.
class log_recorder : public Core_Common::InterfaceLogCallback {
public:
    void on_record(std::int32_t context, std::int32_t level, std::int32_t category, const char*,
                   const char* origin, std::int32_t origin_number,
                   const std::string& message) override {
        std::lock_guard<std::mutex> guard(m_lock);
        if (category == static_cast<std::int32_t>(Core_Common::log_category_t::SOFT_UPDATE)) {
            EXPECT_EQ(context, 1);
            EXPECT_EQ(level, 0);
            EXPECT_STREQ(origin, "");
            EXPECT_EQ(origin_number, 0);
            messages.push_back(message);
        }
    }
    bool has(const std::string& message) {
        std::lock_guard<std::mutex> guard(m_lock);
        for (const auto& m : messages) {
            if (m == message) return true;
        }
        return false;
    }
    std::vector<std::string> messages;

private:
    std::mutex m_lock;
};

// The engine as the host runs it: the framework started, the client reached
// through its module, requests answered by the scripted transport, replies
// delivered by the framework's pump.
class SyncClient : public ::testing::Test {
protected:
    SyncClient() : m_dir("client") {}

    void SetUp() override {
        set_data_directory(m_dir.wide());
        set_update_done([this](const error_code& e) { updates.push_back(e); });
        set_sync_done([this](const error_code& e, const zorvane_node_t& tree) {
            syncs.push_back(e);
            sync_trees.push_back(tree);
        });
        set_overwrite_done([this](const error_code& e) { overwrites.push_back(e); });
        Core_Common::start_framework();
        Core_Common::start_modules();
        ASSERT_NE(ZorvaneClient::instance(), nullptr);
    }

    void TearDown() override {
        if (m_logging) {
            Core_Common::set_log_enabled(false);
            Core_Common::LogDispatcher::remove_sink(&log);
        }
        Core_Common::stop_framework();
        ZorvaneClient::reset_instance();
        set_update_done(nullptr);
        set_sync_done(nullptr);
        set_overwrite_done(nullptr);
        set_data_directory(u"");
        set_server_host("");
    }

    ZorvaneClient& client() { return *ZorvaneClient::instance(); }

    void record_log() {
        ASSERT_TRUE(Core_Common::LogDispatcher::add_sink(&log));
        Core_Common::set_log_enabled(true);
        m_logging = true;
    }

    // Runs the pump a few times, as the scripts do between their calls.
    static void pump() {
        for (int i = 0; i < 3; ++i) Core_Common::process_pending();
    }

    // Answers the waiting request with `xml` and `data`, then pumps.
    void reply(const std::string& xml, const std::string& data = std::string()) {
        ASSERT_TRUE(transport.answer(reply_body(xml, data)));
        pump();
    }

    request_t last_request() { return open_request(transport.requests().back()); }

    // A user who synced `letters` as version `version` before, with
    // submitter `submitter`: the record file the client loads at set_user.
    void verified_user(const std::string& letters, int version,
                       const std::string& submitter = "FIREFOX") {
        account_t account;
        account.user_name = u"alice";
        account.password = u"pa55";
        sync_record_t record;
        record.version = version;
        record.date = "2026-01-02 03:04:05";
        record.tree = parse(tree_document(letters));
        ASSERT_TRUE(save_record_file(m_dir.wide(), account, record, submitter));
        client().set_user(u"alice", u"pa55", 7);
        ASSERT_TRUE(client().account().verified);
        ASSERT_FALSE(client().local_changes());
    }

    // A commit reply accepting version `version`, dated "d<version>".
    static std::string commit_ok(int version) {
        return response("result=\"OK\"", "<Commit result=\"OK\"><BookmarkVersionBaseline>" +
                                             std::to_string(version) +
                                             "</BookmarkVersionBaseline><BookmarkDate>d" +
                                             std::to_string(version) + "</BookmarkDate></Commit>");
    }

    temp_directory m_dir;
    scripted_transport transport;
    log_recorder log;
    bool m_logging = false;
    std::vector<error_code> updates, syncs, overwrites;
    std::vector<zorvane_node_t> sync_trees;
};

// ---- Update ----

TEST_F(SyncClient, UpdateOkVerifiesTheAccountAdoptsTheServersRecordAndSavesIt) {
    record_log();
    client().set_user(u"alice", u"pa55", 7);
    EXPECT_FALSE(client().account().verified);
    EXPECT_EQ(client().last_sync().version, -1);

    client().start_update(false);
    ASSERT_EQ(transport.requests().size(), 1u);
    EXPECT_EQ(transport.request(0).m_message_code, 0u);
    EXPECT_EQ(transport.request(0).m_header_text, "");
    EXPECT_EQ(client().status(), ACTION_UPDATING);
    const request_t request = last_request();
    EXPECT_EQ(request.action_name(), u"Update");
    EXPECT_EQ(request.field_names(),
              (std::vector<std::u16string>{u"Username", u"Password", u"ClientVersion", u"PeerID",
                                           u"BookmarkVersionBaseline"}));
    EXPECT_EQ(request.field(u"Username"), "alice");
    EXPECT_EQ(request.field(u"Password"), "pa55");
    EXPECT_EQ(request.field(u"ClientVersion"), "0");
    EXPECT_EQ(request.field(u"PeerID"), client().peer_id());
    EXPECT_EQ(request.field(u"PeerID").size(), 40u);
    EXPECT_EQ(request.field(u"BookmarkVersionBaseline"), "0");
    EXPECT_EQ(request.data, "");
    EXPECT_EQ(request.xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u);
    EXPECT_EQ(request.xml.find("\n<", request.xml.find("?>") + 3), std::string::npos)
        << "the request document is not indented";

    EXPECT_TRUE(updates.empty()) << "nothing is reported before the pump runs";
    reply(response("result=\"OK\" result_message=\"fine\"",
                   "<Update><BookmarkVersion>12</BookmarkVersion><BookmarkDate>2026-01-02 "
                   "03:04:05</BookmarkDate><SubmitClientType>Tarnwick</SubmitClientType></Update>"),
          tree_document("AB"));

    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0], error_code());
    EXPECT_EQ(status_key(updates[0]), u"OK");
    EXPECT_EQ(client().status(), ACTION_IDLE);
    EXPECT_TRUE(client().account().verified);
    EXPECT_EQ(client().last_sync().version, 12);
    EXPECT_EQ(client().last_sync().date, "2026-01-02 03:04:05");
    EXPECT_EQ(letters_of(client().last_sync().tree), "AB");
    EXPECT_EQ(client().submit_client_type(), "Tarnwick");
    EXPECT_TRUE(log.has("Set User Name = alice , ProfileID = 7"));
    EXPECT_TRUE(log.has("Start Request Update."));
    EXPECT_TRUE(log.has("Update Bookmarks Succeed. Version = 12"));

    // The record is on disk: a fresh sign-in finds it without the server.
    sync_record_t stored;
    std::string stored_type;
    ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, stored_type),
              RECORD_LOADED);
    EXPECT_EQ(stored.version, 12);
    EXPECT_EQ(stored_type, "Tarnwick");
    client().set_user(u"alice", u"pa55", 0);
    EXPECT_TRUE(client().account().verified);
    EXPECT_EQ(client().last_sync().version, 12);
    client().start_update(false);
    EXPECT_EQ(transport.requests().size(), 1u) << "an update with a record sends nothing";
    client().start_update(true);
    EXPECT_EQ(transport.requests().size(), 2u) << "a forced update goes out";
    EXPECT_EQ(last_request().field(u"BookmarkVersionBaseline"), "12");
}

TEST_F(SyncClient, UpdateOkWithoutNewerTreeVerifiesAndLeavesTheRecord) {
    record_log();
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    reply(response("result=\"OK\""));
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0], error_code());
    EXPECT_TRUE(client().account().verified);
    EXPECT_EQ(client().last_sync().version, -1);
    EXPECT_FALSE(tree_present(client().last_sync().tree));
    EXPECT_TRUE(log.has("Update Bookmarks Succeed. Local Is Last Version = 0"));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("zorvane.dat")));
}

TEST_F(SyncClient, UpdateNoRecordVerifiesAndReportsNotFound) {
    client().set_user(u"alice", u"pa55", 0);
    client().start_sync(tree_document("A"));
    EXPECT_EQ(client().last_error().value(), 9) << "an unverified user cannot sync";
    EXPECT_TRUE(transport.requests().empty());

    client().start_update(false);
    reply(response("result=\"NO_RECORD\""));
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].value(), 5);
    EXPECT_EQ(status_key(updates[0]), u"zorvane.kernel.status.no_record");
    EXPECT_EQ(client().last_error().value(), 5);
    EXPECT_TRUE(client().account().verified);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("zorvane.dat")));

    client().start_sync(tree_document("A"));
    EXPECT_EQ(client().status(), ACTION_SYNCING) << "the verified user may now sync";
    EXPECT_EQ(last_request().action_name(), u"Commit");
}

TEST_F(SyncClient, UpdateServerErrorsMapToClientErrorsAndLeaveTheAccountUnverified) {
    record_log();
    const std::vector<std::pair<std::string, int>> cases = {
        {"INVALID_PASSWORD", 6}, {"MAINTENANCE", 1}, {"OUT_OF_DATE", 2},
        {"EXCEPTION", 4},        {"BUSY", 3},        {"SOMETHING_NEW", 3}};
    for (const auto& [name, value] : cases) {
        updates.clear();
        client().set_user(u"alice", u"wrong", 0);
        client().start_update(false);
        reply(response("result=\"" + name + "\" result_message=\"no\""));
        ASSERT_EQ(updates.size(), 1u) << name;
        EXPECT_EQ(updates[0].value(), value) << name;
        EXPECT_EQ(&updates[0].category(), &zorvane_category_instance());
        EXPECT_FALSE(client().account().verified) << name;
        EXPECT_EQ(client().status(), ACTION_IDLE);
    }
    EXPECT_TRUE(log.has("Update Bookmarks Failed."));
}

TEST_F(SyncClient, UpdateWithoutVersionIsAProtocolError) {
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    reply(response("result=\"OK\"", "<Update><BookmarkDate>x</BookmarkDate></Update>"),
          tree_document("A"));
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].value(), 3);
    EXPECT_FALSE(client().account().verified);
    EXPECT_EQ(client().last_sync().version, -1);
}

// ---- Replies that do not open ----

TEST_F(SyncClient, UnreadableRepliesEndTheActionWithInvalidProtocol) {
    const std::string document = response("result=\"OK\"");
    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"short payload", seal(kMessageKey, std::string("\0\0\0\0\0\0\0", 7))},
        {"D too large", seal(kMessageKey, be32(document.size()) + be32(1) + document)},
        {"D too small", seal(kMessageKey, be32(document.size()) + be32(0) + document + "x")},
        {"X past the end", seal(kMessageKey, be32(document.size() + 1) + be32(0) + document)},
        {"other passphrase", seal("another key", be32(document.size()) + be32(0) + document)},
        {"not gzip",
         [] {
             std::string b = "plain bytes that are not a gzip member at all";
             Core_Common::encrypt(kMessageKey, b);
             return b;
         }()},
        {"too short to decipher", std::string(10, 'x')},
        {"not XML", reply_body("<Zorvane><Zorvane><Response>")},
        {"no Response", reply_body("<Zorvane><Zorvane><Reply result=\"OK\"/></Zorvane></Zorvane>")},
    };
    for (const auto& [what, body] : bodies) {
        updates.clear();
        client().set_user(u"alice", u"pa55", 0);
        client().start_update(false);
        ASSERT_TRUE(transport.answer(body));
        pump();
        ASSERT_EQ(updates.size(), 1u) << what;
        EXPECT_EQ(updates[0].value(), 3) << what;
        EXPECT_EQ(status_key(updates[0]), u"zorvane.kernel.status.connect_failed") << what;
        EXPECT_FALSE(client().account().verified) << what;
        EXPECT_EQ(client().status(), ACTION_IDLE) << what;
    }
}

// ---- Sync ----

TEST_F(SyncClient, SyncSendsAnUpdateWhenNothingChangedAndACommitOtherwise) {
    record_log();
    verified_user("AB", 4);

    client().start_sync(tree_document("AB"));
    EXPECT_EQ(client().status(), ACTION_SYNCING);
    EXPECT_EQ(last_request().action_name(), u"Update");
    EXPECT_EQ(last_request().field(u"BookmarkVersionBaseline"), "4");
    EXPECT_EQ(last_request().field(u"ClientType"), "<absent>");
    EXPECT_TRUE(log.has("Start Request Sync."));
    EXPECT_TRUE(log.has("Start Sync Bookmarks."));
    reply(response("result=\"OK\""));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].value(), 0) << "nothing newer on the server: the sync is done";
    EXPECT_FALSE(log.has("Sync Bookmarks Failed."));
    EXPECT_EQ(client().status(), ACTION_IDLE);

    client().start_sync(tree_document("ABC"));
    const request_t commit = last_request();
    EXPECT_EQ(commit.action_name(), u"Commit");
    EXPECT_EQ(commit.field_names(),
              (std::vector<std::u16string>{u"Username", u"Password", u"ClientVersion", u"PeerID",
                                           u"ClientType", u"BookmarkVersionBaseline"}));
    EXPECT_EQ(commit.field(u"ClientType"), "FIREFOX");
    EXPECT_EQ(commit.field(u"BookmarkVersionBaseline"), "4");
    EXPECT_EQ(letters_of(parse(commit.data)), "ABC");
    std::string expected;
    Core_ZorvaneMerge::write_tree(parse(tree_document("ABC")), expected);
    EXPECT_EQ(commit.data, expected);
}

TEST_F(SyncClient, ASyncThatChangesNothingRewritesTheRecordFileOnlyWhenItWentAway) {
    verified_user("AB", 4);
    const std::u16string record_path = store_path(m_dir.wide(), kSyncRecordFileName);
    Core_Common::file_stamp_t saved, now;
    ASSERT_TRUE(Core_Common::file_stamp(record_path, saved));

    client().start_sync(tree_document("AB"));
    reply(response("result=\"OK\""));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    ASSERT_TRUE(Core_Common::file_stamp(record_path, now));
    EXPECT_EQ(now, saved) << "nothing changed: the record file is not written again";

    // Failed syncs change nothing either: a refused commit, a server error,
    // a reply that does not read.
    client().start_sync(tree_document("ABC"));
    reply(response("result=\"OK\"",
                   "<Commit result=\"MAINTENANCE\"><BookmarkVersionBaseline>4"
                   "</BookmarkVersionBaseline></Commit>"));
    client().start_sync(tree_document("ABC"));
    reply(response("result=\"EXCEPTION\""));
    client().start_sync(tree_document("ABC"));
    ASSERT_TRUE(transport.answer("not a reply at all"));
    pump();
    ASSERT_EQ(syncs.size(), 4u);
    for (std::size_t i = 1; i < syncs.size(); ++i) EXPECT_NE(syncs[i], error_code()) << i;
    ASSERT_TRUE(Core_Common::file_stamp(record_path, now));
    EXPECT_EQ(now, saved) << "failed syncs do not write the record file";

    // The file went away behind the client's back: the same sync puts it back.
    ASSERT_TRUE(std::filesystem::remove(m_dir.file("zorvane.dat")));
    client().start_sync(tree_document("AB"));
    reply(response("result=\"OK\""));
    ASSERT_EQ(syncs.size(), 5u);
    sync_record_t stored;
    std::string stored_type;
    ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, stored_type),
              RECORD_LOADED);
    EXPECT_EQ(stored.version, 4);
    EXPECT_EQ(letters_of(stored.tree), "AB");

    // A browser tree merged in changes the record in memory: the sync that
    // commits it saves the new version.
    client().merge_browser_tree(tree_document("ABC"));
    client().start_sync(tree_document("ABC"));
    reply(commit_ok(5), tree_document("ABC"));
    ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, stored_type),
              RECORD_LOADED);
    EXPECT_EQ(stored.version, 5);
}

TEST_F(SyncClient, TheRecordsOwnTreeIsNoChangeEvenWithRepeatedIdentifiers) {
    // Two copies of A that differ: merged, they would agree, and the sync
    // would commit a tree nobody changed.
    const std::string repeated =
        tree_document("AB",
                      "<node><guid>A</guid><type>bookmark</type><name>another A</name>"
                      "<url>http://example.com/other</url></node>");
    client().set_user(u"alice", u"pa55", 7);
    client().start_update(true);
    reply(response("result=\"OK\"",
                   "<Update><BookmarkVersion>4</BookmarkVersion><BookmarkDate>2026-01-02 "
                   "03:04:05</BookmarkDate><SubmitClientType>FIREFOX</SubmitClientType></Update>"),
          repeated);
    ASSERT_TRUE(client().account().verified);

    client().start_sync(repeated);
    EXPECT_EQ(last_request().action_name(), u"Update");
    reply(response("result=\"OK\""));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(client().last_sync().version, 4);
    EXPECT_TRUE(trees_equal(client().sync_input_record().tree, client().last_sync().tree));

    // A real change still goes out, merged.
    client().start_sync(tree_document("ABC"));
    EXPECT_EQ(last_request().action_name(), u"Commit");
}

TEST_F(SyncClient, LocalChangesForceACommitOfAnUnchangedTree) {
    verified_user("AB", 4);
    client().merge_browser_tree(tree_document("ABC"));
    EXPECT_TRUE(client().local_changes());
    EXPECT_EQ(letters_of(client().working_tree()), "ABC");
    EXPECT_EQ(letters_of(client().last_sync().tree), "AB") << "the record stays the base";

    client().start_sync(tree_document("ABC"));
    EXPECT_EQ(last_request().action_name(), u"Commit");
    reply(commit_ok(5), tree_document("ABC"));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_FALSE(client().local_changes()) << "a finished commit clears the local changes";
    EXPECT_EQ(client().last_sync().version, 5);
    EXPECT_EQ(client().last_sync().date, "d5");
    EXPECT_EQ(letters_of(client().working_tree()), "ABC");
}

TEST_F(SyncClient, CommitOkAdoptsTheServersRecordAndSavesIt) {
    verified_user("AB", 4);
    client().start_sync(tree_document("ABD"));
    EXPECT_TRUE(syncs.empty());
    reply(response("result=\"OK\"",
                   "<Commit><BookmarkVersionBaseline>5</BookmarkVersionBaseline><BookmarkDate>now"
                   "</BookmarkDate><SubmitClientType>WEB</SubmitClientType></Commit>"),
          tree_document("ABD"));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(letters_of(sync_trees[0]), "ABD") << "the callback carries the handed-over tree";
    EXPECT_EQ(client().status(), ACTION_IDLE);
    EXPECT_EQ(client().last_sync().version, 5);
    EXPECT_EQ(client().last_sync().date, "now");
    EXPECT_EQ(client().submit_client_type(), "WEB");
    EXPECT_EQ(letters_of(client().sync_input_record().tree), "ABD");
    EXPECT_EQ(client().sync_input_record().version, -1);

    sync_record_t stored;
    std::string type;
    ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, type), RECORD_LOADED);
    EXPECT_EQ(stored.version, 5);
    EXPECT_EQ(letters_of(stored.tree), "ABD");
    EXPECT_EQ(type, "WEB");
}

// The record takes the tree the commit's reply gives back: when that is the
// document sent, byte for byte, the client keeps the tree it sent rather than
// reading it again, and the two must not differ in any field; any other
// document (a title changed in place, the same tree written differently) is
// read.
TEST_F(SyncClient, ACommitAdoptsTheTreeItsReplyGivesBack) {
    const std::string extra =
        "<node><guid>X</guid><type>bookmark</type><name>\xf0\x9f\x94\xa5 Deals &amp; more</name>"
        "<url>http://example.com/caf\xc3\xa9?q=a%20b</url><description> d </description>"
        "<keyword>k</keyword><tag>t1,t2</tag><created>-7</created><modified>99</modified></node>"
        "<node><guid>S</guid><type>separator</type><created>3</created></node>";
    std::string sent;
    for (int round = 0; round < 3; ++round) {
        verified_user("AB", 4 + round);
        client().start_sync(tree_document("ABD", extra));
        sent = last_request().data;
        ASSERT_FALSE(sent.empty());
        std::string echo = sent;
        if (round == 1) {
            const std::size_t at = echo.find("<name>D</name>");
            ASSERT_NE(at, std::string::npos);
            echo[at + 6] = 'E';
        } else if (round == 2) {
            echo = tree_document("ABD", extra);
        }
        reply(commit_ok(10 + round), echo);
        ASSERT_EQ(syncs.size(), static_cast<std::size_t>(round + 1));
        EXPECT_EQ(syncs.back(), error_code());
        EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(client().last_sync().tree, parse(echo)))
            << "round " << round;
        sync_record_t stored;
        std::string type;
        ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, type), RECORD_LOADED);
        EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(stored.tree, parse(echo))) << "round " << round;
    }
}

// "NO_RECORD" after a record existed: the server lost the account's tree.
// The browser's tree is uploaded as a first sync would upload it; the record
// stays until the server has stored it.
TEST_F(SyncClient, NoRecordInASyncUploadsTheTree) {
    verified_user("AB", 4);
    client().start_sync(tree_document("AB"));
    ASSERT_EQ(last_request().action_name(), u"Update");
    reply(response("result=\"NO_RECORD\""));
    EXPECT_TRUE(syncs.empty());
    ASSERT_EQ(last_request().action_name(), u"Commit");
    EXPECT_EQ(last_request().field(u"BookmarkVersionBaseline"), "0");
    EXPECT_EQ(letters_of(parse(last_request().data)), "AB");
    EXPECT_EQ(client().last_sync().version, 4);

    // Another client uploaded first: both sides are kept, nothing deleted.
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\"><BookmarkVersionBaseline>1"
                   "</BookmarkVersionBaseline></Commit>"),
          tree_document("XY"));
    ASSERT_EQ(last_request().field(u"BookmarkVersionBaseline"), "1");
    EXPECT_EQ(letters_of(parse(last_request().data)), "XYAB");
    reply(commit_ok(2), last_request().data);
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(client().last_sync().version, 2);
    EXPECT_EQ(letters_of(client().last_sync().tree), "XYAB");
    sync_record_t stored;
    std::string type;
    ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, type), RECORD_LOADED);
    EXPECT_EQ(stored.version, 2);

    // A commit whose answer carries no tree stored the tree it sent.
    client().start_sync(tree_document("XYABC"));
    reply(commit_ok(3));
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs[1], error_code());
    EXPECT_EQ(letters_of(client().last_sync().tree), "XYABC");
}

TEST_F(SyncClient, SyncReplyWithNewerServerTreeAdoptsIt) {
    verified_user("AB", 4);
    client().start_sync(tree_document("AB"));  // no changes: an update
    reply(response("result=\"OK\"",
                   "<Update><BookmarkVersion>9</BookmarkVersion><SubmitClientType>Glimmerfin"
                   "</SubmitClientType></Update>"),
          tree_document("XYZ"));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(client().last_sync().version, 9);
    EXPECT_EQ(client().last_sync().date, "");
    EXPECT_EQ(letters_of(client().last_sync().tree), "XYZ");
    EXPECT_EQ(client().submit_client_type(), "Glimmerfin");
}

TEST_F(SyncClient, InvalidVersionWithNothingLocalLeftAdoptsTheServersTree) {
    verified_user("AB", 4);
    client().start_sync(tree_document("A"));  // B deleted locally
    ASSERT_EQ(last_request().action_name(), u"Commit");
    // Meanwhile the server deleted B too: nothing of ours is left to add.
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\"><BookmarkVersionBaseline>7"
                   "</BookmarkVersionBaseline><BookmarkDate>d7</BookmarkDate></Commit>"),
          tree_document("A"));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(transport.requests().size(), 1u) << "no further commit";
    EXPECT_EQ(client().last_sync().version, 7);
    EXPECT_EQ(client().last_sync().date, "d7");
    EXPECT_EQ(letters_of(client().last_sync().tree), "A");
    EXPECT_EQ(client().status(), ACTION_IDLE);
}

TEST_F(SyncClient, InvalidVersionWithLocalChangesCommitsTheMergeOnceMore) {
    verified_user("AB", 4);
    client().start_sync(tree_document("ABL"));  // L added here
    ASSERT_EQ(transport.requests().size(), 1u);
    // The server moved on to version 8, where R was added elsewhere.
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\" result_message=\"old\">"
                   "<BookmarkVersionBaseline>8</BookmarkVersionBaseline></Commit>"),
          tree_document("ABR"));
    EXPECT_TRUE(syncs.empty()) << "the sync goes on";
    EXPECT_EQ(client().status(), ACTION_SYNCING);
    ASSERT_EQ(transport.requests().size(), 2u) << "exactly one further commit";
    const request_t again = last_request();
    EXPECT_EQ(again.action_name(), u"Commit");
    EXPECT_EQ(again.field(u"BookmarkVersionBaseline"), "8");
    const zorvane_node_t merged = parse(again.data);
    ASSERT_TRUE(tree_present(merged));
    EXPECT_NE(Core_ZorvaneMerge::find_node(merged, "L"), nullptr);
    EXPECT_NE(Core_ZorvaneMerge::find_node(merged, "R"), nullptr);
    EXPECT_EQ(merged.children.size(), 4u);
    EXPECT_EQ(client().last_sync().version, 4) << "the record waits for the server's answer";

    pump();
    EXPECT_TRUE(syncs.empty());
    reply(commit_ok(9), again.data);
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_EQ(client().last_sync().version, 9);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(client().last_sync().tree, merged));
    EXPECT_EQ(transport.requests().size(), 2u);
}

// Without a record tree there is no common state to merge over. Committing
// our tree again as it is would replace the bookmarks another client stored
// first; both sides are kept instead.
TEST_F(SyncClient, InvalidVersionOnAFirstCommitKeepsTheServersBookmarks) {
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    reply(response("result=\"NO_RECORD\""));
    ASSERT_TRUE(client().account().verified);

    client().start_sync(tree_document("AB"));
    ASSERT_EQ(last_request().field(u"BookmarkVersionBaseline"), "0");
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\"><BookmarkVersionBaseline>1"
                   "</BookmarkVersionBaseline></Commit>"),
          tree_document("XY"));
    ASSERT_EQ(transport.requests().size(), 3u);
    const request_t again = last_request();
    EXPECT_EQ(again.field(u"BookmarkVersionBaseline"), "1");
    const zorvane_node_t combined = parse(again.data);
    for (const char* guid : {"A", "B", "X", "Y"}) {
        EXPECT_NE(Core_ZorvaneMerge::find_node(combined, guid), nullptr) << guid;
    }
    EXPECT_TRUE(syncs.empty());
    reply(commit_ok(2), again.data);
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(client().last_sync().version, 2);

    // When the server already holds exactly our bookmarks, they are adopted.
    client().forget_user();
    client().start_update(true);
    reply(response("result=\"NO_RECORD\""));
    client().start_sync(tree_document("AB"));
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\"><BookmarkVersionBaseline>3"
                   "</BookmarkVersionBaseline></Commit>"),
          tree_document("AB"));
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs[1], error_code());
    EXPECT_EQ(client().last_sync().version, 3);
    EXPECT_EQ(transport.requests().size(), 5u);
}

TEST_F(SyncClient, CommitResultErrorsEndTheSync) {
    verified_user("AB", 4);
    client().start_sync(tree_document("ABC"));
    reply(response("result=\"OK\"",
                   "<Commit result=\"MAINTENANCE\"><BookmarkVersionBaseline>4"
                   "</BookmarkVersionBaseline></Commit>"));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].value(), 1);
    client().start_sync(tree_document("ABC"));
    reply(response("result=\"OK\"", "<Commit result=\"OK\"/>"));
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(syncs[1].value(), 3) << "a commit without baseline";
    EXPECT_EQ(client().last_sync().version, 4);
}

TEST_F(SyncClient, SyncRefusalsCallNoCallback) {
    record_log();
    client().start_sync(tree_document("A"));
    EXPECT_EQ(client().last_error().value(), 9) << "no user";
    verified_user("AB", 4);
    client().start_sync("");
    EXPECT_EQ(client().last_error().value(), 8);
    EXPECT_TRUE(log.has("Bookmarks Invalid. Sync Failed."));
    client().start_overwrite("<nodeset/>");
    EXPECT_EQ(client().last_error().value(), 8);
    EXPECT_TRUE(log.has("Bookmarks Invalid. Commit Failed."));
    pump();
    EXPECT_EQ(transport.requests().size(), 0u);
    EXPECT_TRUE(syncs.empty());
    EXPECT_TRUE(overwrites.empty());
    EXPECT_EQ(client().status(), ACTION_IDLE);

    // A refused tree leaves a sync in flight alone: its "INVALID_VERSION"
    // merges the tree it was started with, not an empty one.
    client().start_sync(tree_document("ABC"));
    client().start_sync("not a tree");
    client().start_overwrite("<nodeset/>");
    EXPECT_EQ(client().status(), ACTION_SYNCING);
    EXPECT_EQ(letters_of(client().sync_input_record().tree), "ABC");
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\"><BookmarkVersionBaseline>5"
                   "</BookmarkVersionBaseline></Commit>"),
          tree_document("ABD"));
    ASSERT_TRUE(transport.waiting());
    EXPECT_EQ(letters_of(parse(last_request().data)), "ABDC");
}

TEST_F(SyncClient, ASecondSyncCancelsTheFirstSilently) {
    verified_user("AB", 4);
    client().start_sync(tree_document("ABC"));
    client().start_sync(tree_document("ABCD"));
    EXPECT_EQ(transport.cancelled(), 1u);
    ASSERT_EQ(transport.requests().size(), 2u);
    EXPECT_EQ(letters_of(parse(last_request().data)), "ABCD");
    reply(commit_ok(5), tree_document("ABCD"));
    pump();
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(letters_of(sync_trees[0]), "ABCD");
}

TEST_F(SyncClient, UpdateNeverInterruptsASyncOrAnOverwrite) {
    record_log();
    verified_user("AB", 4);
    client().start_sync(tree_document("ABC"));
    client().start_update(true);
    EXPECT_TRUE(log.has("Processing Commit, Operation Canceled."));
    EXPECT_EQ(client().status(), ACTION_SYNCING);
    EXPECT_EQ(transport.cancelled(), 0u);
    client().start_overwrite(tree_document("Q"));
    client().start_update(true);
    EXPECT_TRUE(log.has("Processing Over Write, Operation Canceled."));
    EXPECT_EQ(client().status(), ACTION_OVERWRITING);
    EXPECT_EQ(transport.cancelled(), 1u) << "the overwrite replaced the sync";
}

TEST_F(SyncClient, ResetSuppressesEveryCallback) {
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    ASSERT_TRUE(transport.waiting());
    client().reset();
    EXPECT_EQ(client().status(), ACTION_IDLE);
    EXPECT_FALSE(transport.waiting());
    pump();
    EXPECT_TRUE(updates.empty());

    // A reply already queued for the pump is dropped as well.
    client().start_update(false);
    ASSERT_TRUE(transport.answer(reply_body(response("result=\"OK\""))));
    client().reset();
    pump();
    EXPECT_TRUE(updates.empty());
    EXPECT_FALSE(client().account().verified);
}

TEST_F(SyncClient, TransportFailureGivesError10AndOneCallback) {
    record_log();
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    ASSERT_TRUE(transport.fail());
    pump();
    ASSERT_EQ(updates.size(), 1u);
    EXPECT_EQ(updates[0].value(), 10);
    EXPECT_EQ(status_key(updates[0]), u"zorvane.kernel.status.connect_failed");
    EXPECT_EQ(client().last_error().value(), 10);
    EXPECT_EQ(client().status(), ACTION_IDLE);
    EXPECT_TRUE(log.has("Update Bookmarks Failed."));

    verified_user("AB", 4);
    client().start_sync(tree_document("ABC"));
    ASSERT_TRUE(transport.fail());
    pump();
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].value(), 10);
    EXPECT_TRUE(log.has("Sync Bookmarks Failed."));

    client().start_overwrite(tree_document("ABC"));
    ASSERT_TRUE(transport.fail());
    pump();
    ASSERT_EQ(overwrites.size(), 1u);
    EXPECT_EQ(overwrites[0].value(), 10);
    EXPECT_TRUE(log.has("OverWrite Bookmarks Failed."));

    // A failure that reaches an idle client is logged and reported nowhere.
    const std::size_t reported = updates.size() + syncs.size() + overwrites.size();
    client().on_error(Core_Common::service_error_t{3, u"x"}, error_code());
    EXPECT_EQ(client().last_error().value(), 4);
    EXPECT_TRUE(log.has("Unknow Bookmarks Action."));
    EXPECT_EQ(updates.size() + syncs.size() + overwrites.size(), reported);
}

// ---- Overwrite ----

TEST_F(SyncClient, OverwriteCarriesOverWriteTrueAndBaselineZero) {
    record_log();
    verified_user("AB", 4);
    client().start_overwrite(tree_document("QR"));
    EXPECT_EQ(client().status(), ACTION_OVERWRITING);
    EXPECT_TRUE(log.has("Start Request Over Write."));
    EXPECT_TRUE(log.has("Start Over Write Bookmarks."));
    const request_t request = last_request();
    EXPECT_EQ(request.action_name(), u"Commit");
    EXPECT_EQ(request.field_names(), (std::vector<std::u16string>{
                                         u"Username", u"Password", u"ClientVersion", u"PeerID",
                                         u"OverWrite", u"ClientType", u"BookmarkVersionBaseline"}));
    EXPECT_EQ(request.field(u"OverWrite"), "true");
    EXPECT_EQ(request.field(u"BookmarkVersionBaseline"), "0");
    EXPECT_EQ(request.field(u"ClientType"), "FIREFOX");
    EXPECT_EQ(letters_of(parse(request.data)), "QR");
    EXPECT_EQ(client().sync_input_record().tree.type, 0) << "an overwrite is not a sync input";

    reply(commit_ok(11), tree_document("QR"));
    ASSERT_EQ(overwrites.size(), 1u);
    EXPECT_EQ(overwrites[0], error_code());
    EXPECT_EQ(client().status(), ACTION_IDLE);
    EXPECT_EQ(client().last_sync().version, 11);
    EXPECT_EQ(letters_of(client().last_sync().tree), "QR");
    EXPECT_TRUE(log.has("OverWrite Bookmarks Succeed. Version = 11"));
    sync_record_t stored;
    std::string type;
    ASSERT_EQ(load_record_file(m_dir.wide(), client().account(), stored, type), RECORD_LOADED);
    EXPECT_EQ(stored.version, 11);

    client().start_overwrite(tree_document("QR"));
    reply(response("result=\"NO_RECORD\""));
    ASSERT_EQ(overwrites.size(), 2u);
    EXPECT_EQ(overwrites[1].value(), 5);
    client().start_overwrite(tree_document("QR"));
    reply(response("result=\"OK\""));
    ASSERT_EQ(overwrites.size(), 3u);
    EXPECT_EQ(overwrites[2].value(), 3) << "no Commit element";
    EXPECT_EQ(client().last_sync().version, 11);
}

// ---- Account and local trees ----

TEST_F(SyncClient, ForgetUserDropsTheRecordAndItsFileButKeepsTheName) {
    verified_user("AB", 4);
    ASSERT_TRUE(std::filesystem::exists(m_dir.file("zorvane.dat")));
    client().merge_browser_tree(tree_document("ABC"));
    client().forget_user();
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("zorvane.dat")));
    EXPECT_FALSE(client().account().verified);
    EXPECT_EQ(client().account().user_name, u"alice");
    EXPECT_EQ(client().account().password, u"pa55");
    EXPECT_EQ(client().account().profile_id, 0);
    EXPECT_EQ(client().last_sync().version, -1);
    EXPECT_FALSE(client().local_changes());
    EXPECT_EQ(client().submit_client_type(), "");
    client().start_sync(tree_document("AB"));
    EXPECT_EQ(client().last_error().value(), 9);
}

TEST_F(SyncClient, MergeBrowserTreeKeepsEverythingAndNotesChanges) {
    client().set_user(u"alice", u"pa55", 0);
    client().merge_browser_tree(tree_document("AB"));
    EXPECT_EQ(letters_of(client().working_tree()), "AB") << "taken as it is without a tree";
    EXPECT_FALSE(tree_present(client().last_sync().tree)) << "it is no record";
    EXPECT_TRUE(client().local_changes());
    client().merge_browser_tree(tree_document("A"));
    EXPECT_EQ(letters_of(client().working_tree()), "AB") << "nothing is deleted";
    client().merge_browser_tree("not a tree");
    EXPECT_EQ(letters_of(client().working_tree()), "AB");
    client().merge_browser_tree(tree_document("AC"));
    EXPECT_EQ(letters_of(client().working_tree()), "ABC");

    verified_user("AB", 4);
    client().merge_browser_tree(tree_document("A"));
    EXPECT_FALSE(client().local_changes()) << "nothing new: no local change";
    EXPECT_EQ(letters_of(client().working_tree()), "AB");
}

// The first sync of a computer over an account that holds a tree: the
// browser's bookmarks are merged in, and the commit meets "INVALID_VERSION"
// or fails, also across a restart of the host. What was merged in stays a
// local change over the record, so the merge with the newer server tree
// keeps it, and nothing the server holds is taken as deleted by a browser
// that has not seen it.
TEST_F(SyncClient, WhatMergeBrowserTreeBroughtInSurvivesRefusedAndFailedCommits) {
    // The update of a first sync: the account holds A B C.
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    reply(response("result=\"OK\"", "<Update><BookmarkVersion>4</BookmarkVersion></Update>"),
          tree_document("ABC"));
    ASSERT_EQ(client().last_sync().version, 4);
    EXPECT_TRUE(client().local_changes()) << "the browser has not confirmed this tree";

    // The browser holds A L M; merged without deletions, then synced.
    client().merge_browser_tree(tree_document("ALM"));
    EXPECT_EQ(letters_of(client().working_tree()), "ABCLM");
    EXPECT_EQ(letters_of(client().last_sync().tree), "ABC");
    client().start_sync(tree_document("ABCLM"));
    ASSERT_EQ(last_request().action_name(), u"Commit");
    ASSERT_TRUE(transport.fail());
    pump();
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0].value(), ZORVANE_TRANSPORT_FAILED);
    EXPECT_EQ(letters_of(client().last_sync().tree), "ABC") << "the base is unchanged";
    EXPECT_EQ(letters_of(client().working_tree()), "ABCLM");

    // Again in the same process, handed the browser's own tree this time.
    client().start_sync(tree_document("ALM"));
    EXPECT_EQ(letters_of(parse(last_request().data)), "ABCLM");
    ASSERT_TRUE(transport.fail());
    pump();
    ASSERT_EQ(syncs.size(), 2u);
    EXPECT_EQ(letters_of(client().working_tree()), "ABCLM");
    syncs.clear();

    // The host starts again and hands the browser's own tree, which never
    // got B and C: nothing is deleted, what it holds is added.
    client().set_user(u"alice", u"pa55", 0);
    ASSERT_EQ(client().last_sync().version, 4);
    EXPECT_EQ(letters_of(client().last_sync().tree), "ABC");
    EXPECT_TRUE(client().local_changes()) << "kept in the record file";
    client().start_sync(tree_document("ALM"));
    ASSERT_EQ(last_request().action_name(), u"Commit");
    EXPECT_EQ(letters_of(parse(last_request().data)), "ABCLM");

    // Another computer deleted C and added D meanwhile (version 5). The
    // merge over the record A B C keeps L and M, takes C as deleted there.
    reply(response("result=\"OK\"",
                   "<Commit result=\"INVALID_VERSION\"><BookmarkVersionBaseline>5"
                   "</BookmarkVersionBaseline></Commit>"),
          tree_document("ABD"));
    ASSERT_EQ(last_request().field(u"BookmarkVersionBaseline"), "5");
    const zorvane_node_t merged = parse(last_request().data);
    for (const char* guid : {"A", "B", "D", "L", "M"}) {
        EXPECT_NE(Core_ZorvaneMerge::find_node(merged, guid), nullptr) << guid;
    }
    EXPECT_EQ(Core_ZorvaneMerge::find_node(merged, "C"), nullptr);
    reply(commit_ok(6), last_request().data);
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], error_code());
    EXPECT_FALSE(client().local_changes()) << "stored by the commit";
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(client().last_sync().tree, merged));

    // From here on the browser's deletions are deletions again.
    client().set_user(u"alice", u"pa55", 0);
    EXPECT_FALSE(client().local_changes());
    client().start_sync(tree_document("ABDL"));
    EXPECT_EQ(letters_of(parse(last_request().data)), "ABDL");
}

TEST_F(SyncClient, ImportForeignTreeOnlyForOtherClientTypes) {
    verified_user("AB", 4, "FIREFOX");
    client().import_foreign_tree(tree_document("XY"));
    EXPECT_EQ(letters_of(client().working_tree()), "AB");
    EXPECT_FALSE(client().local_changes());

    verified_user("AB", 4, "Tarnwick");
    client().import_foreign_tree(tree_document("XY"));
    EXPECT_FALSE(client().local_changes()) << "nothing of the browser's is kept: the stored tree";
    EXPECT_EQ(letters_of(client().working_tree()), "AB");

    const std::string query =
        "<node><guid>Q</guid><type>query</type><name>Q</name><url>place:sort=8</url></node>";
    client().import_foreign_tree(tree_document("XY", query));
    EXPECT_TRUE(client().local_changes());
    const zorvane_node_t& t = client().working_tree();
    EXPECT_NE(Core_ZorvaneMerge::find_node(t, "A"), nullptr);
    EXPECT_NE(Core_ZorvaneMerge::find_node(t, "Q"), nullptr) << "the browser's queries stay";
    EXPECT_EQ(Core_ZorvaneMerge::find_node(t, "X"), nullptr) << "its other bookmarks go";
    EXPECT_EQ(letters_of(client().last_sync().tree), "AB") << "the record stays the base";

    client().import_foreign_tree("not a tree");
    EXPECT_NE(Core_ZorvaneMerge::find_node(client().working_tree(), "Q"), nullptr);
}

TEST_F(SyncClient, RootsUnchangedComparesToolbarMenuAndUnfiled) {
    auto roots = [](const std::string& toolbar, const std::string& unfiled,
                    const std::string& other) {
        auto folder = [](const std::string& guid, const std::string& inner) {
            return "<node><guid>" + guid + "</guid><type>folder</type><name>" + guid +
                   "</name><children>" + inner + "</children></node>";
        };
        auto mark = [](char c) {
            return std::string("<node><guid>") + c + "</guid><type>bookmark</type><name>" + c +
                   "</name><url>http://example.com/" + c + "</url></node>";
        };
        std::string inner_toolbar, inner_other;
        for (char c : toolbar) inner_toolbar += mark(c);
        for (char c : other) inner_other += mark(c);
        std::string children =
            folder("BOOKMARK_TOOLBAR", inner_toolbar) + folder("BOOKMARK_MENU", "");
        if (!unfiled.empty()) children += folder("BOOKMARK_UNFILED", "");
        children += folder("OTHER", inner_other);
        return "<nodeset><node><guid>ROOT</guid><type>folder</type><name>R</name><children>" +
               children + "</children></node></nodeset>";
    };
    client().set_user(u"alice", u"pa55", 0);
    EXPECT_FALSE(client().roots_unchanged(roots("A", "u", ""))) << "no record tree";
    client().merge_browser_tree(roots("A", "u", "X"));
    EXPECT_TRUE(client().roots_unchanged(roots("A", "u", "Y")));
    EXPECT_FALSE(client().roots_unchanged(roots("A", "", "X")));
    EXPECT_FALSE(client().roots_unchanged(roots("AB", "u", "X")));
    EXPECT_FALSE(client().roots_unchanged("garbage"));
}

TEST_F(SyncClient, ServerHostSettingReachesTheSessionsAtModuleStart) {
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    ASSERT_EQ(transport.requests().size(), 1u);
    EXPECT_EQ(transport.request(0).m_host, "localhost");
    EXPECT_EQ(transport.request(0).m_port, 8080);

    Core_Common::stop_framework();
    set_server_host("sync.example.org:9000");
    Core_Common::start_framework();
    Core_Common::start_modules();
    client().set_user(u"alice", u"pa55", 0);
    client().start_update(false);
    ASSERT_EQ(transport.requests().size(), 2u);
    EXPECT_EQ(transport.request(1).m_host, "sync.example.org");
    EXPECT_EQ(transport.request(1).m_port, 9000);
}

TEST_F(SyncClient, NotesBelongToTheirUser) {
    client().set_user(u"a", u"x", 0);
    EXPECT_EQ(client().load_notes(), "");
    client().save_notes("note of a");
    EXPECT_EQ(client().load_notes(), "note of a");
    client().set_user(u"b", u"x", 0);
    EXPECT_EQ(client().load_notes(), "");
    client().set_user(u"a", u"y", 0);
    EXPECT_EQ(client().load_notes(), "note of a") << "notes are keyed by the user name";
    client().delete_notes();
    EXPECT_EQ(client().load_notes(), "");
}

}  // namespace
}  // namespace Core_ZorvaneClient
