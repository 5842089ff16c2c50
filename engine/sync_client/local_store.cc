#include "sync_client/local_store.h"

#include <atomic>

#include "bookmarks/tree_xml.h"
#include "common/base64.h"
#include "common/crypto.h"
#include "common/gzip.h"
#include "common/hash20.h"
#include "common/whole_file.h"
#include "common/xml_node.h"
#include "platform/strings.h"

namespace Core_ZorvaneClient {
namespace {

using Core_Common::xml_node_t;

constexpr const char16_t* kRecordBookMarks = u"BookMarks";
constexpr const char16_t* kRecordUsername = u"Username";
constexpr const char16_t* kRecordPassword = u"Password";
constexpr const char16_t* kRecordVersion = u"Version";
constexpr const char16_t* kRecordDateTime = u"DateTime";
constexpr const char16_t* kRecordClientType = u"ClientType";
constexpr const char16_t* kRecordContent = u"Content";
constexpr const char16_t* kRecordRoot = u"Zorvane";

std::atomic<bool> g_fail_compress{false};
std::atomic<bool> g_fail_encrypt{false};

// gzip, then the envelope. False when either step fails: the caller must not
// write what is left in `bytes`.
bool pack(std::string_view passphrase, std::string& bytes) {
    if (g_fail_compress.load() || !Core_Common::gzip_compress(bytes)) return false;
    if (g_fail_encrypt.load() || !Core_Common::encrypt(passphrase, bytes)) return false;
    return true;
}

bool unpack(std::string_view passphrase, std::string& bytes) {
    return Core_Common::decrypt(passphrase, bytes) && Core_Common::gzip_decompress(bytes);
}

bool usable_directory(std::u16string_view directory) {
    return !directory.empty() && Core_Common::is_directory(directory);
}

std::string notes_passphrase(std::u16string_view user_name) {
    std::string passphrase(kStorePassphrase);
    passphrase += Core_Platform::wide_to_ansi(user_name);
    return passphrase;
}

}  // namespace

std::u16string store_path(std::u16string_view directory, std::u16string_view file_name) {
    std::u16string path(directory);
    if (!path.empty() && path.back() != u'/') path.push_back(u'/');
    path.append(file_name);
    return path;
}

std::string password_hash_text(std::u16string_view password) {
    std::string bytes;
    bytes.reserve(password.size() * 2);
    for (char16_t unit : password) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return Core_Common::sha1(bytes.data(), bytes.size()).to_hex();
}

bool save_record_file(std::u16string_view directory, const account_t& account,
                      const sync_record_t& record, const std::string& client_type) {
    if (!tree_present(record.tree)) return false;
    if (!usable_directory(directory)) return false;

    std::string tree_document;
    Core_ZorvaneMerge::write_tree(record.tree, tree_document);

    xml_node_t document;
    document.name = kRecordRoot;
    xml_node_t& marks = document.add_child(kRecordBookMarks);
    marks.add_child(kRecordUsername).set_wide(account.user_name);
    marks.add_child(kRecordPassword).set_ansi(password_hash_text(account.password));
    marks.add_child(kRecordVersion).set_int32(record.version);
    marks.add_child(kRecordDateTime).set_ansi(record.date);
    marks.add_child(kRecordClientType).set_ansi(client_type);
    marks.add_child(kRecordContent).set_ansi(Core_Common::base64_encode(tree_document));

    std::string bytes;
    document.serialize(bytes, false);
    if (bytes.empty() || !pack(kStorePassphrase, bytes)) return false;
    return Core_Common::write_whole_file(store_path(directory, kSyncRecordFileName), bytes);
}

const char* record_load_text(record_load_enum outcome) {
    switch (outcome) {
        case RECORD_LOADED:
            return "loaded";
        case RECORD_NO_DIRECTORY:
            return "the data directory does not exist";
        case RECORD_UNREADABLE:
            return "no readable record file";
        case RECORD_UNDECIPHERABLE:
            return "the record file is damaged or not a record file";
        case RECORD_MALFORMED:
            return "the record file lacks a required element";
        case RECORD_OTHER_USER:
            return "the record belongs to another user";
        case RECORD_WRONG_PASSWORD:
            return "the record was written with another password";
    }
    return "unknown outcome";
}

record_load_enum load_record_file(std::u16string_view directory, const account_t& account,
                                  sync_record_t& record, std::string& client_type) {
    if (!usable_directory(directory)) return RECORD_NO_DIRECTORY;
    std::string bytes;
    if (!Core_Common::read_whole_file(store_path(directory, kSyncRecordFileName), bytes)) {
        return RECORD_UNREADABLE;
    }
    if (!unpack(kStorePassphrase, bytes)) return RECORD_UNDECIPHERABLE;

    xml_node_t document;
    if (!document.parse(bytes)) return RECORD_UNDECIPHERABLE;
    const xml_node_t* marks = document.find_child(kRecordBookMarks);
    if (marks == nullptr) return RECORD_MALFORMED;

    std::u16string user_name;
    if (!marks->get_child(kRecordUsername, user_name)) return RECORD_MALFORMED;
    if (user_name != account.user_name) return RECORD_OTHER_USER;
    std::string password;
    if (!marks->get_child(kRecordPassword, password)) return RECORD_MALFORMED;
    if (password != password_hash_text(account.password)) return RECORD_WRONG_PASSWORD;

    std::int32_t version = 0;
    if (!marks->get_child(kRecordVersion, version)) return RECORD_MALFORMED;
    std::string date;
    marks->get_child(kRecordDateTime, date);
    std::string stored_type;
    marks->get_child(kRecordClientType, stored_type);
    std::string content;
    if (!marks->get_child(kRecordContent, content)) return RECORD_MALFORMED;

    Core_ZorvaneMerge::zorvane_node_t tree;
    Core_ZorvaneMerge::read_tree(Core_Common::base64_decode(content), tree);

    record.version = version;
    record.date = std::move(date);
    record.tree = std::move(tree);
    client_type = std::move(stored_type);
    return RECORD_LOADED;
}

void delete_record_file(std::u16string_view directory) {
    if (!usable_directory(directory)) return;
    Core_Common::remove_file(store_path(directory, kSyncRecordFileName));
}

bool save_notes_file(std::u16string_view directory, std::u16string_view user_name,
                     const std::string& notes) {
    if (directory.empty()) return false;
    if (!Core_Common::is_directory(directory) && !Core_Common::create_directories(directory)) {
        return false;
    }
    std::string bytes = notes;
    if (!pack(notes_passphrase(user_name), bytes)) return false;
    return Core_Common::write_whole_file(store_path(directory, kNotesFileName), bytes);
}

std::string load_notes_file(std::u16string_view directory, std::u16string_view user_name) {
    if (!usable_directory(directory)) return std::string();
    std::string bytes;
    // A missing file reads as no bytes, which does not decipher.
    Core_Common::read_whole_file(store_path(directory, kNotesFileName), bytes);
    if (!unpack(notes_passphrase(user_name), bytes)) return std::string();
    return bytes;
}

void delete_notes_file(std::u16string_view directory) {
    if (directory.empty()) return;
    Core_Common::remove_file(store_path(directory, kNotesFileName));
}

std::string peer_id_in(std::u16string_view directory) {
    const std::u16string path = store_path(directory, kPeerIdFileName);
    if (!directory.empty()) {
        std::string bytes;
        Core_Common::hash20 stored;
        if (Core_Common::read_whole_file(path, bytes) &&
            Core_Common::hash20::from_bytes(bytes, stored)) {
            return stored.to_hex();
        }
    }
    Core_Common::hash20 fresh;
    Core_Common::random_bytes(fresh.data(), Core_Common::hash20::size);
    if (!directory.empty()) {
        Core_Common::write_whole_file(path, fresh.to_bytes());  // a failure is ignored
    }
    return fresh.to_hex();
}

scoped_store_faults::scoped_store_faults(const store_faults_t& faults) {
    g_fail_compress.store(faults.fail_compress);
    g_fail_encrypt.store(faults.fail_encrypt);
}

scoped_store_faults::~scoped_store_faults() {
    g_fail_compress.store(false);
    g_fail_encrypt.store(false);
}

}  // namespace Core_ZorvaneClient
