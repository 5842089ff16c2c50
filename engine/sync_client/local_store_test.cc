#include "sync_client/local_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "bookmarks/tree_compare.h"
#include "bookmarks/tree_xml.h"
#include "common/base64.h"
#include "common/whole_file.h"
#include "platform/file_faults_testing.h"
#include "platform/file_ops.h"
#include "platform/strings.h"
#include "sync_client/store_faults_testing.h"
#include "sync_client/sync_client_testing.h"

namespace Core_ZorvaneClient {
namespace {

using namespace Core_ZorvaneClient::testing;

account_t account_of(const std::u16string& user, const std::u16string& password) {
    account_t a;
    a.user_name = user;
    a.password = password;
    return a;
}

// `tree` as it reads back from its document.
Core_ZorvaneMerge::zorvane_node_t as_read(const Core_ZorvaneMerge::zorvane_node_t& tree) {
    std::string document;
    Core_ZorvaneMerge::write_tree(tree, document);
    Core_ZorvaneMerge::zorvane_node_t out;
    Core_ZorvaneMerge::read_tree(document, out);
    return out;
}

sync_record_t record_of(const std::string& letters, int version, const std::string& date) {
    sync_record_t r;
    r.version = version;
    r.date = date;
    Core_ZorvaneMerge::read_tree(tree_document(letters), r.tree);
    return r;
}

std::string file_bytes(const std::string& path) {
    std::string bytes;
    Core_Common::read_whole_file(std::u16string(path.begin(), path.end()), bytes);
    return bytes;
}

// A record document written by hand, sealed the way the record file is.
std::string record_file(const std::string& marks) {
    return seal(kStoreKey, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Zorvane><BookMarks>" +
                               marks + "</BookMarks></Zorvane>");
}

void write_file(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(Core_Common::write_whole_file(std::u16string(path.begin(), path.end()), bytes));
}

class LocalStore : public ::testing::Test {
protected:
    LocalStore() : dir("store") {}
    temp_directory dir;
    const account_t alice = account_of(u"alice", u"pa55");
};

TEST_F(LocalStore, PasswordHashIsSha1OfUtf16LittleEndian) {
    EXPECT_EQ(password_hash_text(u"abc"), "9f04f41a848514162050e3d68c1a7abb441dc2b5");
    EXPECT_EQ(password_hash_text(u""), std::string(40, '0'));
}

TEST_F(LocalStore, RecordFileHasTheDocumentedLayers) {
    ASSERT_TRUE(
        save_record_file(dir.wide(), alice, record_of("AB", 3, "2026-05-06 07:08:09"), "WEB"));
    std::string plain;
    ASSERT_TRUE(unseal(kStoreKey, file_bytes(dir.file("zorvane.dat")), plain));
    Core_Common::xml_node_t document;
    ASSERT_TRUE(document.parse(plain));
    EXPECT_EQ(document.name, u"Zorvane");
    ASSERT_EQ(document.children.size(), 1u);
    const Core_Common::xml_node_t& marks = *document.children[0];
    EXPECT_EQ(marks.name, u"BookMarks");
    std::vector<std::u16string> names;
    for (const auto* c : marks.children) names.push_back(c->name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Username", u"Password", u"Version", u"DateTime",
                                                  u"ClientType", u"Content"}));
    std::string text;
    marks.get_child(u"Username", text);
    EXPECT_EQ(text, "alice");
    marks.get_child(u"Password", text);
    EXPECT_EQ(text, "a7366d86e0c04523d2f7b8a1152d44f326357d68");
    marks.get_child(u"Version", text);
    EXPECT_EQ(text, "3");
    marks.get_child(u"DateTime", text);
    EXPECT_EQ(text, "2026-05-06 07:08:09");
    marks.get_child(u"ClientType", text);
    EXPECT_EQ(text, "WEB");
    marks.get_child(u"Content", text);
    std::string expected_tree;
    Core_ZorvaneMerge::write_tree(record_of("AB", 0, "").tree, expected_tree);
    EXPECT_EQ(Core_Common::base64_decode(text), expected_tree);
    EXPECT_EQ(plain.find("\n<", plain.find("?>") + 3), std::string::npos)
        << "written without indentation";
}

// The content a commit packs ahead, on another thread, while the server
// stores the tree: the record written with it holds exactly what one written
// whole holds; content packed for the other LocalChanges flag is not used.
TEST_F(LocalStore, ContentPackedAheadMakesTheSameRecord) {
    const sync_record_t record = record_of("ABCDEFGH", 7, "2026-05-06 07:08:09");
    for (const bool local_changes : {false, true}) {
        ASSERT_TRUE(save_record_file(dir.wide(), alice, record, "WEB", local_changes));
        std::string whole;
        ASSERT_TRUE(unseal(kStoreKey, file_bytes(dir.file("zorvane.dat")), whole));
        for (const bool packed_for : {false, true}) {
            auto ahead = std::async(std::launch::async,
                                    [&] { return pack_record_content(record.tree, packed_for); });
            ASSERT_TRUE(
                save_record_file(dir.wide(), alice, record, "WEB", local_changes, ahead.get()));
            std::string plain;
            ASSERT_TRUE(unseal(kStoreKey, file_bytes(dir.file("zorvane.dat")), plain));
            EXPECT_EQ(plain, whole) << local_changes << " " << packed_for;
        }
    }
}

TEST_F(LocalStore, RecordLoadsOnlyForItsUserAndPassword) {
    ASSERT_TRUE(save_record_file(dir.wide(), alice, record_of("AB", 3, "d"), "Tarnwick"));
    sync_record_t loaded;
    std::string type = "untouched";
    EXPECT_EQ(load_record_file(dir.wide(), account_of(u"bob", u"pa55"), loaded, type),
              RECORD_OTHER_USER);
    EXPECT_EQ(load_record_file(dir.wide(), account_of(u"Alice", u"pa55"), loaded, type),
              RECORD_OTHER_USER);
    EXPECT_EQ(load_record_file(dir.wide(), account_of(u"alice", u"PA55"), loaded, type),
              RECORD_WRONG_PASSWORD);
    EXPECT_EQ(loaded.version, -1) << "a refused record changes nothing";
    EXPECT_EQ(type, "untouched");

    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_EQ(loaded.version, 3);
    EXPECT_EQ(loaded.date, "d");
    EXPECT_EQ(type, "Tarnwick");
    EXPECT_EQ(loaded.tree.children.size(), 2u);
}

TEST_F(LocalStore, HandWrittenRecordsFollowTheReadingRules) {
    const std::string hash = password_hash_text(u"pa55");
    const std::string content = Core_Common::base64_encode(tree_document("A"));
    const std::string path = dir.file("zorvane.dat");
    sync_record_t loaded;
    std::string type;

    write_file(path,
               record_file("<Username>alice</Username><Password>" + hash +
                           "</Password><Version>abc</Version><Content>" + content + "</Content>"));
    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_EQ(loaded.version, 0) << "a non-numeric version reads as 0";
    EXPECT_EQ(loaded.date, "") << "DateTime is optional";
    EXPECT_EQ(type, "");
    EXPECT_EQ(loaded.tree.children.size(), 1u);

    write_file(path, record_file("<Username>alice</Username><Password>" + hash +
                                 "</Password><Version>5</Version><Content>" +
                                 Core_Common::base64_encode("<nodeset/>") + "</Content>"));
    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_EQ(loaded.version, 5);
    EXPECT_EQ(loaded.tree.type, 0) << "a tree that does not read loads as the empty tree";

    for (const std::string& missing :
         {"<Password>" + hash + "</Password><Version>1</Version><Content>" + content + "</Content>",
          "<Username>alice</Username><Version>1</Version><Content>" + content + "</Content>",
          "<Username>alice</Username><Password>" + hash + "</Password><Content>" + content +
              "</Content>",
          "<Username>alice</Username><Password>" + hash + "</Password><Version>1</Version>"}) {
        write_file(path, record_file(missing));
        EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_MALFORMED) << missing;
    }
    write_file(path, seal(kStoreKey, "<Other><Username>alice</Username></Other>"));
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_MALFORMED);
    write_file(path, seal("another passphrase", "<Zorvane/>"));
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_UNDECIPHERABLE);
    write_file(path, "short");
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_UNDECIPHERABLE);
    std::filesystem::remove(path);
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_UNREADABLE);
    EXPECT_EQ(load_record_file(dir.wide() + u"/missing", alice, loaded, type), RECORD_NO_DIRECTORY);
    EXPECT_EQ(loaded.version, 5);
}

TEST_F(LocalStore, RecordDocumentIsTheSerialisedElementTree) {
    // The record document, byte for byte, as the XML node wrapper writes it.
    account_t odd = account_of(u"\u00e9l\u00e8ve & <co>", u"pa55");
    sync_record_t record = record_of("ABC", -7, "2026-05-06 07:08:09 <&>");
    ASSERT_TRUE(save_record_file(dir.wide(), odd, record, "WEB\r\n"));
    std::string plain;
    ASSERT_TRUE(unseal(kStoreKey, file_bytes(dir.file("zorvane.dat")), plain));
    Core_Common::xml_node_t document;
    document.name = u"Zorvane";
    Core_Common::xml_node_t& marks = document.add_child(u"BookMarks");
    marks.add_child(u"Username").set_wide(odd.user_name);
    marks.add_child(u"Password").set_ansi(password_hash_text(odd.password));
    marks.add_child(u"Version").set_int32(record.version);
    marks.add_child(u"DateTime").set_ansi(record.date);
    marks.add_child(u"ClientType").set_ansi("WEB\r\n");
    std::string tree;
    Core_ZorvaneMerge::write_tree(record.tree, tree);
    marks.add_child(u"Content").set_ansi(Core_Common::base64_encode(tree));
    std::string expected;
    document.serialize(expected, false);
    EXPECT_EQ(plain, expected);
    sync_record_t loaded;
    std::string type;
    ASSERT_EQ(load_record_file(dir.wide(), odd, loaded, type), RECORD_LOADED);
    EXPECT_EQ(type, "WEB\r\n");
    EXPECT_EQ(loaded.date, record.date);
}

TEST_F(LocalStore, RecordReadingFollowsTheElementRules) {
    const std::string hash = password_hash_text(u"pa55");
    const std::string content = Core_Common::base64_encode(tree_document("AB"));
    const std::string path = dir.file("zorvane.dat");
    sync_record_t loaded;
    std::string type;
    // The first of repeated elements counts, order does not matter, other
    // elements and comments are passed over, an element with element
    // children has no text, and only the first BookMarks counts.
    write_file(path,
               seal(kStoreKey,
                    "<Any><Other><Username>bob</Username></Other><BookMarks>"
                    "<Content>" +
                        content +
                        "</Content><Version>4</Version>"
                        "<Version>9</Version><!-- note --><Username>al<![CDATA[ice]]></Username>"
                        "<ClientType>W<b/>EB</ClientType><Password>" +
                        hash +
                        "</Password>"
                        "<x><Version>1</Version></x></BookMarks><BookMarks/></Any>"));
    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_EQ(loaded.version, 4);
    EXPECT_EQ(type, "");
    EXPECT_EQ(loaded.tree.children.size(), 2u);
    write_file(path,
               seal(kStoreKey, "<Zorvane><BookMarks><Username>alice<i/></Username><Password>" +
                                   hash + "</Password><Version>1</Version><Content>" + content +
                                   "</Content></BookMarks></Zorvane>"));
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_OTHER_USER);
    // Malformed XML does not decipher, nor does a document type declaration.
    write_file(path, seal(kStoreKey, "<Zorvane><BookMarks><Username>alice</Username>"));
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_UNDECIPHERABLE);
    write_file(path, seal(kStoreKey,
                          "<!DOCTYPE Zorvane [<!ENTITY u \"alice\">]><Zorvane><BookMarks>"
                          "<Username>&u;</Username><Password>" +
                              hash + "</Password><Version>6</Version><Content>" + content +
                              "</Content></BookMarks></Zorvane>"));
    EXPECT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_UNDECIPHERABLE);
    EXPECT_EQ(loaded.version, 4);
}

// Records are read as they inflate, their tree decoded and read on the way;
// what only reads whole (a text run beyond 10 MB in the tree) is read whole.
// Either way the record loads as it was saved, and the reading rules of the
// Content field hold.
TEST_F(LocalStore, LargeRecordsReadAsTheyInflate) {
    sync_record_t record = record_of("", 12, "d");
    for (int i = 0; i < 6000; ++i) {
        Core_ZorvaneMerge::zorvane_node_t b(Core_ZorvaneMerge::NODE_BOOKMARK,
                                            "b" + std::to_string(i));
        b.title = u"Bookmark \u00e9 " + Core_Platform::utf8_to_wide(std::to_string(i * 7919));
        b.url = "https://example.org/" + std::to_string(i) + "/" + std::string(i % 300, 'p');
        record.tree.children.push_back(b);
    }
    record.tree = as_read(record.tree);
    ASSERT_TRUE(save_record_file(dir.wide(), alice, record, "WEB"));
    EXPECT_GT(file_bytes(dir.file("zorvane.dat")).size(), 100000u);
    sync_record_t loaded;
    std::string type;
    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(loaded.tree, record.tree));
    EXPECT_EQ(loaded.version, 12);

    record.tree.children[3].title.assign(10'500'000, u't');
    ASSERT_TRUE(save_record_file(dir.wide(), alice, record, "WEB"));
    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_TRUE(Core_ZorvaneMerge::trees_equal(loaded.tree, record.tree));

    const std::string hash = password_hash_text(u"pa55");
    const std::string fields =
        "<Username>alice</Username><Password>" + hash + "</Password><Version>3</Version>";
    std::string spaced = Core_Common::base64_encode(tree_document("AB"));
    for (std::size_t at = 5; at < spaced.size(); at += 9) spaced.insert(at, at % 2 ? "\n " : "=");
    const struct {
        std::string marks;
        std::size_t children;
    } cases[] = {
        {fields + "<Content>" + spaced + "</Content>", 2},
        {fields + "<Content>" + spaced + "<i/></Content>", 0},
        {fields + "<Content>" + Core_Common::base64_encode(tree_document("C")) +
             "</Content><Content>" + spaced + "</Content>",
         1},
        {fields + "<Content/>", 0},
    };
    for (const auto& c : cases) {
        write_file(dir.file("zorvane.dat"), record_file(c.marks));
        ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED) << c.marks;
        EXPECT_EQ(loaded.tree.children.size(), c.children) << c.marks;
    }
}

TEST_F(LocalStore, SavingNeedsATreeAndAnExistingDirectory) {
    const std::u16string missing = dir.wide() + u"/not/there";
    EXPECT_FALSE(save_record_file(missing, alice, record_of("A", 1, ""), ""));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/not"));
    EXPECT_FALSE(save_record_file(u"", alice, record_of("A", 1, ""), ""));

    ASSERT_TRUE(save_record_file(dir.wide(), alice, record_of("A", 1, ""), ""));
    const std::string before = file_bytes(dir.file("zorvane.dat"));
    EXPECT_FALSE(save_record_file(dir.wide(), alice, sync_record_t{}, ""));
    EXPECT_EQ(file_bytes(dir.file("zorvane.dat")), before);
}

// A save that cannot pack its bytes, or cannot write them, must leave the
// last good record in place.
TEST_F(LocalStore, FailedSavesKeepThePreviousRecord) {
    ASSERT_TRUE(save_record_file(dir.wide(), alice, record_of("AB", 3, ""), ""));
    const std::string good = file_bytes(dir.file("zorvane.dat"));
    for (const store_faults_t& faults :
         {store_faults_t{true, false}, store_faults_t{false, true}}) {
        scoped_store_faults injected(faults);
        EXPECT_FALSE(save_record_file(dir.wide(), alice, record_of("XYZ", 4, ""), ""));
        EXPECT_EQ(file_bytes(dir.file("zorvane.dat")), good);
        EXPECT_FALSE(save_notes_file(dir.wide(), u"alice", "notes"));
        EXPECT_FALSE(std::filesystem::exists(dir.file("zorvane_notes.dat")));
    }
    for (int step = 1; step <= 4; ++step) {
        Core_Platform::file_faults_t plan;
        plan.fail_open_at = step == 1 ? 1 : 0;
        plan.fail_write_at = step == 2 ? 1 : 0;
        plan.fail_fsync_at = step == 3 ? 1 : 0;
        plan.fail_rename_at = step == 4 ? 1 : 0;
        Core_Platform::scoped_file_faults injected(plan);
        EXPECT_FALSE(save_record_file(dir.wide(), alice, record_of("XYZ", 4, ""), "")) << step;
        EXPECT_EQ(file_bytes(dir.file("zorvane.dat")), good) << step;
    }
    sync_record_t loaded;
    std::string type;
    ASSERT_EQ(load_record_file(dir.wide(), alice, loaded, type), RECORD_LOADED);
    EXPECT_EQ(loaded.version, 3);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u) << "no temporary files are left behind";
}

// Deleting removes the record (or the notes) and whatever saves that crashed
// half-way left; the other files stay.
TEST_F(LocalStore, DeleteRemovesTheRecordOnlyAndCrashLeftovers) {
    ASSERT_TRUE(save_record_file(dir.wide(), alice, record_of("A", 1, ""), ""));
    ASSERT_TRUE(save_notes_file(dir.wide(), u"alice", "n"));
    const auto long_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"zorvane.dat.tmp-00112233aabb", "zorvane_notes.dat.tmp-445566778899",
                             "zorvane_peer_id.dat.tmp-ccddeeff0011"}) {
        write_file(dir.file(name), "half a file");
        std::filesystem::last_write_time(dir.file(name), long_ago);
    }
    delete_record_file(dir.wide());
    EXPECT_FALSE(std::filesystem::exists(dir.file("zorvane.dat")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("zorvane_notes.dat")));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u) << "the temporary files are gone";
    delete_record_file(dir.wide());  // nothing left: still fine
    delete_notes_file(dir.wide());
    EXPECT_FALSE(std::filesystem::exists(dir.file("zorvane_notes.dat")));
}

// The files hold the whole tree, the notes and a hash of the password: only
// their owner reads them, whatever the umask; so does a directory the store
// creates.
TEST_F(LocalStore, StoreFilesArePrivate) {
    const mode_t previous = ::umask(022);
    const std::u16string nested = dir.wide() + u"/made/by/notes";
    ASSERT_TRUE(save_notes_file(nested, u"alice", "n"));
    ASSERT_TRUE(save_record_file(nested, alice, record_of("A", 1, ""), ""));
    peer_id_in(nested);
    ::umask(previous);
    namespace fs = std::filesystem;
    for (const char* name : {"made", "made/by", "made/by/notes"}) {
        EXPECT_EQ(fs::status(dir.file(name)).permissions(), fs::perms::owner_all) << name;
    }
    for (const char* name : {"zorvane.dat", "zorvane_notes.dat", "zorvane_peer_id.dat"}) {
        EXPECT_EQ(fs::status(dir.file(std::string("made/by/notes/") + name)).permissions(),
                  fs::perms::owner_read | fs::perms::owner_write)
            << name;
    }
}

TEST_F(LocalStore, NotesAreSealedForTheirUser) {
    EXPECT_EQ(load_notes_file(dir.wide(), u"a"), "") << "no notes file";
    ASSERT_TRUE(save_notes_file(dir.wide(), u"a", std::string("line 1\nline \0 2", 15)));
    EXPECT_EQ(load_notes_file(dir.wide(), u"a"), std::string("line 1\nline \0 2", 15));
    EXPECT_EQ(load_notes_file(dir.wide(), u"b"), "");
    std::string plain;
    EXPECT_TRUE(unseal(kStoreKey + "a", file_bytes(dir.file("zorvane_notes.dat")), plain));
    EXPECT_EQ(plain, std::string("line 1\nline \0 2", 15));

    write_file(dir.file("zorvane_notes.dat"), "damaged");
    EXPECT_EQ(load_notes_file(dir.wide(), u"a"), "");

    const std::u16string nested = dir.wide() + u"/made/by/notes";
    ASSERT_TRUE(save_notes_file(nested, u"a", "x"));
    EXPECT_EQ(load_notes_file(nested, u"a"), "x");
    EXPECT_FALSE(save_notes_file(u"", u"a", "x"));
    EXPECT_EQ(load_notes_file(u"", u"a"), "");
}

TEST_F(LocalStore, PeerIdentifierIsKeptAndRepaired) {
    const std::string path = dir.file("zorvane_peer_id.dat");
    const std::string first = peer_id_in(dir.wide());
    ASSERT_EQ(first.size(), 40u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos);
    const std::string raw = file_bytes(path);
    ASSERT_EQ(raw.size(), 20u);
    EXPECT_EQ(Core_Platform::to_hex(raw), first);
    EXPECT_EQ(peer_id_in(dir.wide()), first);

    write_file(path, std::string(21, 'x'));
    const std::string repaired = peer_id_in(dir.wide());
    EXPECT_NE(repaired, Core_Platform::to_hex(std::string(20, 'x')));
    EXPECT_EQ(file_bytes(path).size(), 20u);
    EXPECT_EQ(Core_Platform::to_hex(file_bytes(path)), repaired);

    write_file(path, std::string(20, '\x01'));
    std::string ones;
    for (int i = 0; i < 20; ++i) ones += "01";
    EXPECT_EQ(peer_id_in(dir.wide()), ones);

    const std::u16string missing = dir.wide() + u"/missing";
    EXPECT_NE(peer_id_in(missing), peer_id_in(missing)) << "nowhere to keep it: new every time";
    EXPECT_NE(peer_id_in(u""), peer_id_in(u""));
}

}  // namespace
}  // namespace Core_ZorvaneClient
