// The sync client at the size limit: a tree whose document is larger than a
// sync carries (common/size_limits.h) is refused before anything is sent or
// written.
#include <gtest/gtest.h>

#include <filesystem>

#include "bookmarks/tree_xml.h"
#include "common/size_limits.h"
#include "startup/framework.h"
#include "sync_client/client_settings.h"
#include "sync_client/completion_callbacks.h"
#include "sync_client/sync_client_testing.h"
#include "sync_client/zorvane_client.h"
#include "sync_client/zorvane_error.h"

namespace Core_ZorvaneClient {
namespace {

using namespace Core_ZorvaneClient::testing;
using boost::system::error_code;
using Core_ZorvaneMerge::zorvane_node_t;

class SyncClientLimits : public ::testing::Test {
protected:
    SyncClientLimits() : m_dir("limits") {}

    void SetUp() override {
        set_data_directory(m_dir.wide());
        set_sync_done([this](const error_code& e, const zorvane_node_t&) { syncs.push_back(e); });
        set_overwrite_done([this](const error_code& e) { overwrites.push_back(e); });
        Core_Common::start_framework();
        Core_Common::start_modules();
        ZorvaneClient& client = *ZorvaneClient::instance();
        client.set_user(u"alice", u"pa55", 7);
        client.start_update(true);
        ASSERT_TRUE(m_transport.answer(reply_body(response("result=\"OK\""))));
        for (int i = 0; i < 3; ++i) Core_Common::process_pending();
        ASSERT_TRUE(client.account().verified);
    }

    void TearDown() override {
        Core_Common::stop_framework();
        ZorvaneClient::reset_instance();
        set_sync_done(nullptr);
        set_overwrite_done(nullptr);
        set_data_directory(u"");
    }

    // A tree whose document is `extra` bytes longer than the largest that
    // syncs: one bookmark with a very long address.
    static zorvane_node_t tree_past_the_limit(std::size_t extra) {
        zorvane_node_t tree;
        Core_ZorvaneMerge::read_tree(tree_document("AB"), tree);
        std::string document;
        Core_ZorvaneMerge::write_tree(tree, document);
        tree.children[0].url +=
            std::string(Core_Common::max_tree_bytes - document.size() + extra, 'x');
        return tree;
    }

    temp_directory m_dir;
    scripted_transport m_transport;
    std::vector<error_code> syncs, overwrites;
};

TEST_F(SyncClientLimits, ATreeLargerThanASyncCarriesIsRefusedBeforeAnythingIsSent) {
    ZorvaneClient& client = *ZorvaneClient::instance();
    const std::size_t sent_before = m_transport.requests().size();
    client.start_sync(tree_past_the_limit(1));
    ASSERT_EQ(syncs.size(), 1u);
    EXPECT_EQ(syncs[0], make_error_code(ZORVANE_TREE_TOO_LARGE));
    EXPECT_EQ(status_key(syncs[0]), u"zorvane.kernel.status.too_large");
    EXPECT_EQ(client.status(), ACTION_IDLE);

    client.start_overwrite(tree_past_the_limit(1));
    ASSERT_EQ(overwrites.size(), 1u);
    EXPECT_EQ(overwrites[0], make_error_code(ZORVANE_TREE_TOO_LARGE));

    EXPECT_EQ(m_transport.requests().size(), sent_before);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("zorvane.dat")));
    EXPECT_EQ(client.last_sync().version, -1);
}

}  // namespace
}  // namespace Core_ZorvaneClient
