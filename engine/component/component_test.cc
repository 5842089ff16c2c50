#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "component/component_testing.h"
#include "component/sync_date.h"
#include "component/zorvane_extension.h"
#include "component/zorvane_tree_count.h"
#include "glue/module.h"

namespace Core_ZorvaneComponent::testing {
namespace {

// ---- Entry, registration and interface lookup ----

// What the info object's tree count says, and the "node" elements of
// getTree's document: the two must agree.
std::pair<std::uint32_t, std::size_t> counted_nodes(IZorvaneInfo* info) {
    nsCOMPtr<IZorvaneTreeCount> count;
    std::uint32_t nodes = UINT32_MAX;
    if (NS_FAILED(info->QueryInterface(ZORVANE_ITREECOUNT_IID, count.receive_void())) ||
        NS_FAILED(count->getTreeNodes(&nodes))) {
        return {UINT32_MAX, 0};
    }
    nsString text;
    info->getTree(text);
    const std::u16string_view view = text.view();
    std::size_t tags = 0;
    for (std::size_t at = view.find(u"<node>"); at != view.npos;
         at = view.find(u"<node>", at + 1)) {
        ++tags;
    }
    return {nodes, tags};
}

TEST(ComponentEntry, ModuleDescriptionListsOneClassAndOneContract) {
    void* library = dlopen(ZV_COMPONENT_LIBRARY, RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    const auto* const* described =
        static_cast<const mozilla::Module* const*>(dlsym(library, "NSModule"));
    ASSERT_NE(described, nullptr);
    ASSERT_NE(dlsym(library, "NSGetModule"), nullptr);
    const mozilla::Module& module = **described;
    EXPECT_EQ(module.mVersion, 9u);
    ASSERT_NE(module.mCIDs[0].cid, nullptr);
    EXPECT_TRUE(module.mCIDs[0].cid->Equals(ZORVANE_EXTENSION_CID));
    EXPECT_EQ(module.mCIDs[1].cid, nullptr);
    EXPECT_STREQ(module.mContractIDs[0].contractid, ZORVANE_EXTENSION_CONTRACTID);
    EXPECT_EQ(module.mContractIDs[1].contractid, nullptr);
    EXPECT_TRUE(module.mCategoryEntries == nullptr ||
                module.mCategoryEntries[0].category == nullptr);
    // Nothing of the engine is visible from outside the library.
    EXPECT_EQ(dlsym(library, "_ZN13Core_Platform12utc_to_localERKNS_15calendar_time_tERS0_"),
              nullptr);

    // The constructor refuses an outer object and leaves the result null.
    runtime_with_component runtime;
    int outer_object = 0;
    void* result = &outer_object;
    EXPECT_EQ(module.mCIDs[0].constructorProc(reinterpret_cast<nsISupports*>(&outer_object),
                                              NS_ISUPPORTS_IID, &result),
              static_cast<nsresult>(0x80040110));
    EXPECT_EQ(result, nullptr);
    dlclose(library);
}

TEST(ComponentEntry, ExtensionAnswersItsInterfacesAndRefusesOthers) {
    runtime_with_component runtime;
    nsCOMPtr<nsISupports> object;
    ASSERT_EQ(zv_host::create_component_instance(ZORVANE_EXTENSION_CONTRACTID, NS_ISUPPORTS_IID,
                                                 object.receive_void()),
              NS_OK);
    void* extension = nullptr;
    ASSERT_EQ(object->QueryInterface(ZORVANE_IEXTENSION_IID, &extension), NS_OK);
    ASSERT_NE(extension, nullptr);
    static_cast<IZorvaneExtension*>(extension)->Release();

    void* info = &extension;
    EXPECT_EQ(object->QueryInterface(ZORVANE_IINFO_IID, &info), NS_NOINTERFACE);
    EXPECT_EQ(info, nullptr);

    // AddRef and Release report the count.
    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);

    // The info and note objects answer their own interface and nsISupports.
    nsCOMPtr<IZorvaneExtension> ext = make_extension();
    IZorvaneInfo* info_object = nullptr;
    ASSERT_EQ(ext->getInfo(&info_object), NS_OK);
    void* as_note = &extension;
    EXPECT_EQ(info_object->QueryInterface(ZORVANE_ILOCALNOTE_IID, &as_note), NS_NOINTERFACE);
    EXPECT_EQ(as_note, nullptr);
    void* as_base = nullptr;
    EXPECT_EQ(info_object->QueryInterface(NS_ISUPPORTS_IID, &as_base), NS_OK);
    EXPECT_EQ(as_base, static_cast<void*>(info_object));
    EXPECT_EQ(info_object->Release(), 1u);
    EXPECT_EQ(info_object->Release(), 0u);
}

// ---- Before any synchronisation ----

TEST(ExtensionWithoutServer, FreshStateAnswersEmptyAndRefusesUnverifiedSync) {
    temp_dir data;
    use_server("127.0.0.1:" + std::to_string(closed_port()));
    runtime_with_component runtime;
    nsCOMPtr<IZorvaneExtension> ext = make_extension();
    ext->setDataDirectory(nsString(u16(data.text())));
    ext->setUser(nsString(u"alice"), nsString(u"pw"));

    nsCOMPtr<IZorvaneInfo> info;
    ASSERT_EQ(ext->getInfo(info.receive()), NS_OK);
    std::int32_t version = 0;
    info->getVersion(&version);
    EXPECT_EQ(version, -1);
    nsString tree, date, status, input;
    info->getTree(tree);
    info->getDate(date);
    info->getStatus(status);
    EXPECT_TRUE(tree.view().empty());
    EXPECT_EQ(counted_nodes(info.get()), std::make_pair(0u, std::size_t{0}));
    EXPECT_TRUE(date.view().empty());
    EXPECT_EQ(status.view(), u"zorvane.kernel.status.idle");
    std::int32_t verified = 1;
    info->getVerified(&verified);
    EXPECT_EQ(verified, 0);

    std::int32_t unchanged = 1;
    ext->rootsUnchanged(nsString(u16(browser_tree(2))), &unchanged);
    EXPECT_EQ(unchanged, 0);
    ext->getSyncInputTree(input);
    EXPECT_TRUE(input.view().empty());

    // An unverified user's sync and overwrite are refused without a word.
    ext->sync(nsString(u16(browser_tree(2))));
    ext->overwrite(nsString(u16(browser_tree(2))));
    pump_until(
        ext.get(), [] { return false; }, std::chrono::milliseconds(600));
    EXPECT_TRUE(runtime.seen().empty());
}

TEST(ExtensionWithoutServer, RefusedConnectionGivesConnectFailed) {
    temp_dir data;
    use_server("127.0.0.1:" + std::to_string(closed_port()));
    runtime_with_component runtime;
    nsCOMPtr<IZorvaneExtension> ext = make_extension();
    ext->setDataDirectory(nsString(u16(data.text())));
    ext->setUser(nsString(u"alice"), nsString(u"pw"));
    ext->update();
    ASSERT_TRUE(pump_until(ext.get(), [&] { return !runtime.seen().empty(); }));
    ASSERT_EQ(runtime.seen().size(), 1u);
    EXPECT_EQ(runtime.seen()[0].topic, ZORVANE_UPDATE_TOPIC);
    EXPECT_EQ(runtime.seen()[0].data, u"zorvane.kernel.status.connect_failed");
}

TEST(ExtensionWithoutServer, ObjectMadeAfterTheLastOneWentHasAWorkingEngine) {
    temp_dir data;
    use_server("127.0.0.1:" + std::to_string(closed_port()));
    runtime_with_component runtime;
    {
        nsCOMPtr<IZorvaneExtension> first = make_extension();
        first->processEvents();
    }  // the framework stops here
    nsCOMPtr<IZorvaneExtension> again = make_extension();
    again->setDataDirectory(nsString(u16(data.text())));
    again->setUser(nsString(u"bob"), nsString(u"pw"));
    nsCOMPtr<IZorvaneInfo> info;
    again->getInfo(info.receive());
    nsString user;
    info->getUserName(user);
    EXPECT_EQ(user.view(), u"bob");
    again->update();
    ASSERT_TRUE(pump_until(again.get(), [&] { return !runtime.seen().empty(); }));
    EXPECT_EQ(runtime.seen()[0].data, u"zorvane.kernel.status.connect_failed");
}

TEST(ExtensionWithoutServer, MissingObserverServiceSkipsTheNotification) {
    temp_dir data;
    use_server("127.0.0.1:" + std::to_string(closed_port()));
    runtime_with_component runtime(ZV_RUNTIME_NO_OBSERVER_SERVICE);
    nsCOMPtr<IZorvaneExtension> ext = make_extension();
    ext->setDataDirectory(nsString(u16(data.text())));
    ext->setUser(nsString(u"alice"), nsString(u"pw"));
    nsCOMPtr<IZorvaneInfo> info;
    ext->getInfo(info.receive());
    ext->update();
    nsString status;
    info->getStatus(status);
    EXPECT_EQ(status.view(), u"zorvane.kernel.status.updating");
    // The action ends (the client goes idle) although nobody can be told.
    EXPECT_TRUE(pump_until(ext.get(), [&] {
        nsString now;
        info->getStatus(now);
        return now.view() == u"zorvane.kernel.status.idle";
    }));
}

// ---- The date as shown ----

TEST(SyncDate, ConvertsUniversalTimeToTheMachinesZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "ZVT-1", 1);  // one hour ahead of universal time
    EXPECT_EQ(display_date("2011-03-04 05:06:07"), "2011-03-04 06:06:07");
    EXPECT_EQ(display_date("20110304T050607"), "2011-03-04 06:06:07");
    EXPECT_EQ(display_date("2011-03-04 23:30:00"), "2011-03-05 00:30:00");
    setenv("TZ", "UTC0", 1);
    EXPECT_EQ(display_date("2011-03-04 05:06:07"), "2011-03-04 05:06:07");
    EXPECT_EQ(display_date(""), "");
    EXPECT_EQ(display_date("not a date"), "");
    if (saved) {
        setenv("TZ", previous.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
}

// ---- Against a real server ----

class ExtensionWithServer : public ::testing::Test {
protected:
    void SetUp() override {
        use_server(server.address());
        runtime = std::make_unique<runtime_with_component>();
        ext = make_extension();
        ext->setDataDirectory(nsString(u16(data.text())));
        ext->setUser(nsString(u"alice"), nsString(u"s3cret pass"));
        ext->getInfo(info.receive());
    }
    void TearDown() override {
        info.reset();
        ext.reset();
        runtime.reset();
    }
    std::size_t seen() const { return runtime->seen().size(); }
    notification_t last() const { return runtime->seen().back(); }
    bool wait_for(std::size_t count) {
        return pump_until(ext.get(), [&] { return seen() >= count; });
    }
    std::u16string status() {
        nsString text;
        info->getStatus(text);
        return std::u16string(text.view());
    }
    std::int32_t version() {
        std::int32_t v = -2;
        info->getVersion(&v);
        return v;
    }
    // The account verified and a first sync of `count` bookmarks stored.
    void first_sync(int count) {
        ext->update();
        ASSERT_TRUE(wait_for(1));
        ext->sync(nsString(u16(browser_tree(count))));
        ASSERT_TRUE(wait_for(2));
        ASSERT_EQ(last().data, u"OK");
    }
    // The stored tree's document.
    std::string stored_text() {
        nsString stored;
        info->getTree(stored);
        return narrow(std::u16string(stored.view()));
    }

    test_server server;
    temp_dir data;
    std::unique_ptr<runtime_with_component> runtime;
    nsCOMPtr<IZorvaneExtension> ext;
    nsCOMPtr<IZorvaneInfo> info;
};

TEST_F(ExtensionWithServer, UpdateVerifiesThenSyncAndOverwriteReportOk) {
    ext->update();
    EXPECT_EQ(status(), u"zorvane.kernel.status.updating");
    ASSERT_TRUE(wait_for(1));
    EXPECT_EQ(last().topic, ZORVANE_UPDATE_TOPIC);
    // A new account holds no bookmarks yet; the server has still accepted
    // the user.
    EXPECT_EQ(last().data, u"zorvane.kernel.status.no_record");
    std::int32_t verified = 0;
    info->getVerified(&verified);
    EXPECT_EQ(verified, 1);

    const std::string tree = browser_tree(3);
    ext->sync(nsString(u16(tree)));
    EXPECT_EQ(status(), u"zorvane.kernel.status.syncing");
    ASSERT_TRUE(wait_for(2));
    EXPECT_EQ(last().topic, ZORVANE_SYNC_TOPIC);
    EXPECT_EQ(last().data, u"OK");
    EXPECT_EQ(status(), u"zorvane.kernel.status.idle");
    EXPECT_GE(version(), 0);
    nsString stored, date, input;
    info->getTree(stored);
    EXPECT_NE(narrow(std::u16string(stored.view())).find("http://example.org/b2"),
              std::string::npos);
    // The top, its three kernel folders and the three bookmarks.
    const auto after_sync = counted_nodes(info.get());
    EXPECT_EQ(after_sync.first, after_sync.second);
    EXPECT_EQ(after_sync.first, 7u);
    info->getDate(date);
    EXPECT_EQ(date.view().size(), 19u);
    ext->getSyncInputTree(input);
    EXPECT_FALSE(input.view().empty());
    std::int32_t unchanged = 0;
    ext->rootsUnchanged(nsString(u16(tree)), &unchanged);
    EXPECT_EQ(unchanged, 1);

    const std::int32_t before = version();
    ext->overwrite(nsString(u16(browser_tree(1, "o"))));
    EXPECT_EQ(status(), u"zorvane.kernel.status.overwriting");
    ASSERT_TRUE(wait_for(3));
    EXPECT_EQ(last().topic, ZORVANE_OVERWRITE_TOPIC);
    EXPECT_EQ(last().data, u"OK");
    EXPECT_EQ(status(), u"zorvane.kernel.status.idle");
    EXPECT_GT(version(), before);
    info->getTree(stored);
    EXPECT_NE(narrow(std::u16string(stored.view())).find("http://example.org/o0"),
              std::string::npos);
    EXPECT_EQ(narrow(std::u16string(stored.view())).find("http://example.org/b2"),
              std::string::npos);
    const auto after_overwrite = counted_nodes(info.get());
    EXPECT_EQ(after_overwrite.first, after_overwrite.second);
    EXPECT_EQ(after_overwrite.first + 2, after_sync.first) << "two bookmarks fewer";
}

// The host hands the component's own text back when nothing changed; the
// component knows that text and does not read it again. A text that differs
// in one character, at the same length, is read: its change is committed.
TEST_F(ExtensionWithServer, ItsOwnTreeTextHandedBackIsThatTreeAndAChangedOneIsRead) {
    ASSERT_NO_FATAL_FAILURE(first_sync(3));
    const std::int32_t first = version();

    nsString own;
    info->getTree(own);
    ext->sync(own);
    ASSERT_TRUE(wait_for(3));
    EXPECT_EQ(last().data, u"OK");
    EXPECT_EQ(version(), first) << "nothing changed: nothing committed";

    info->getTree(own);
    std::u16string changed(own.view());
    const std::size_t at = changed.find(u"example.org/b2");
    ASSERT_NE(at, std::u16string::npos);
    changed[at + 12] = u'c';
    ext->sync(nsString(changed));
    ASSERT_TRUE(wait_for(4));
    EXPECT_EQ(last().data, u"OK");
    EXPECT_GT(version(), first);
    const std::string text = stored_text();
    EXPECT_NE(text.find("http://example.org/c2"), std::string::npos);
    EXPECT_EQ(text.find("http://example.org/b2"), std::string::npos);
}

// A text handed out, then the working tree changed without a document read
// in between (the user's other data directory, with its newer record, taken
// up): the text handed back is read for what it says (here: the bookmark
// added in the other directory is not in it, so it is deleted), not taken
// for the working tree.
TEST_F(ExtensionWithServer, ItsOwnTreeTextHandedBackAfterTheTreeChangedIsRead) {
    ASSERT_NO_FATAL_FAILURE(first_sync(3));

    // The other directory adds a bookmark.
    temp_dir other;
    const auto use = [&](const temp_dir& dir) {
        ext->setDataDirectory(nsString(u16(dir.text())));
        ext->setUser(nsString(u"alice"), nsString(u"s3cret pass"));
    };
    use(other);
    ext->update();
    ASSERT_TRUE(wait_for(3));
    ext->sync(nsString(u16(browser_tree(4))));
    ASSERT_TRUE(wait_for(4));
    ASSERT_EQ(last().data, u"OK");
    const std::int32_t theirs = version();

    // This directory's text of three bookmarks, handed to the other one.
    use(data);
    nsString own;
    info->getTree(own);
    ASSERT_EQ(narrow(std::u16string(own.view())).find("http://example.org/b3"), std::string::npos);
    use(other);
    ASSERT_EQ(version(), theirs);
    ext->sync(own);
    ASSERT_TRUE(wait_for(5));
    EXPECT_EQ(last().data, u"OK");
    EXPECT_GT(version(), theirs);
    const std::string text = stored_text();
    EXPECT_NE(text.find("http://example.org/b2"), std::string::npos);
    EXPECT_EQ(text.find("http://example.org/b3"), std::string::npos);
}

TEST_F(ExtensionWithServer, SecondSyncCancelsTheFirstAndCancelSilencesAnUpdate) {
    ext->update();
    ASSERT_TRUE(wait_for(1));
    ext->sync(nsString(u16(browser_tree(2))));
    ext->sync(nsString(u16(browser_tree(4))));
    ASSERT_TRUE(wait_for(2));
    pump_until(
        ext.get(), [] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(seen(), 2u);
    EXPECT_EQ(last().topic, ZORVANE_SYNC_TOPIC);

    // A new data directory and user state: the update is sent again, then
    // cancelled before its reply.
    ext->forgetUser();
    ext->update();
    ext->cancel();
    EXPECT_EQ(status(), u"zorvane.kernel.status.idle");
    pump_until(
        ext.get(), [] { return false; }, std::chrono::milliseconds(800));
    EXPECT_EQ(seen(), 2u);
}

TEST_F(ExtensionWithServer, WrongPasswordIsReportedAndNotesStayLocal) {
    ext->setUser(nsString(u"alice"), nsString(u"wrong"));
    ext->update();
    ASSERT_TRUE(wait_for(1));
    EXPECT_NE(last().data, u"OK");
    EXPECT_EQ(last().data.rfind(u"zorvane.kernel.status.", 0), 0u);

    nsCOMPtr<IZorvaneLocalNote> note;
    ASSERT_EQ(ext->getLocalNote(note.receive()), NS_OK);
    note->setNote(nsString(u"remember \u00e9t\u00e9"));
    nsString text;
    note->getNote(text);
    EXPECT_EQ(text.view(), u"remember \u00e9t\u00e9");
    note->deleteNote();
    note->getNote(text);
    EXPECT_TRUE(text.view().empty());
}

}  // namespace
}  // namespace Core_ZorvaneComponent::testing
