#include "sync_client/local_store.h"

#include <atomic>
#include <exception>
#include <system_error>
#include <thread>

#include "bookmarks/tree_xml.h"
#include "common/base64.h"
#include "common/crypto.h"
#include "common/gzip.h"
#include "common/hash20.h"
#include "common/piece_pipe.h"
#include "common/whole_file.h"
#include "common/xml_node.h"
#include "common/xml_stream.h"
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
constexpr const char16_t* kRecordLocalChanges = u"LocalChanges";

std::atomic<bool> g_fail_compress{false};
std::atomic<bool> g_fail_encrypt{false};

// gzip, then the envelope. False when either step fails: the caller must not
// write what is left in `bytes`.
bool pack(std::string_view passphrase, std::string& bytes) {
    if (g_fail_compress.load() || !Core_Common::gzip_compress(bytes)) return false;
    if (g_fail_encrypt.load() || !Core_Common::encrypt(passphrase, bytes)) return false;
    return true;
}

// `limit`: the most the file's document may unpack to.
bool unpack(std::string_view passphrase, std::string& bytes,
            std::size_t limit = Core_Common::gzip_inflate_limit) {
    return Core_Common::decrypt(passphrase, bytes) && Core_Common::gzip_decompress(bytes, limit);
}

bool usable_directory(std::u16string_view directory) {
    return !directory.empty() && Core_Common::is_directory(directory);
}

std::string notes_passphrase(std::u16string_view user_name) {
    std::string passphrase(kStorePassphrase);
    passphrase += Core_Platform::wide_to_ansi(user_name);
    return passphrase;
}

// The "BookMarks" element of a record document as xml_node_t::parse()
// would give it: its child elements with their texts (an element with
// element children has none), grandchildren left out.
struct record_fields_t {
    xml_node_t marks;
};

enum record_fields_enum { FIELDS_READ, FIELDS_MALFORMED, FIELDS_NO_BOOKMARKS };

// Where the text of the record's first "Content" field goes when it is not
// kept: the tree document in Base64, decoded as it arrives and read into a
// tree on a thread of its own, while this one deciphers, inflates and reads
// the record around it (for a large tree each half takes most of a second).
// Pieces of a quarter of a megabyte go between them, a few at a time.
class content_reader_t {
public:
    content_reader_t() = default;
    content_reader_t(const content_reader_t&) = delete;
    content_reader_t& operator=(const content_reader_t&) = delete;
    ~content_reader_t() {
        m_pipe.close(true);
        if (m_reader.joinable()) m_reader.join();
    }

    void text(std::string_view base64) {
        if (m_tree_ended) return;
        m_decoder.add(base64, m_decoded);
        if (m_decoded.size() >= kPiece) hand_on();
    }
    // The field turned out to hold elements: it has no text.
    void drop() { m_dropped = true; }
    // The tree of the field's text; false when the document only reads
    // whole (the caller reads the record the whole way). Rethrows what the
    // reading thread met (a lack of memory).
    bool finish(Core_ZorvaneMerge::zorvane_node_t& tree) {
        if (!m_tree_ended) {
            m_decoder.finish(m_decoded);
            if (!m_decoded.empty()) hand_on();
        }
        m_pipe.close(true);
        if (m_reader.joinable()) m_reader.join();
        if (m_failure) std::rethrow_exception(m_failure);
        Core_ZorvaneMerge::zorvane_node_t read;
        if (!m_tree.finish(read)) return m_dropped;  // an empty text reads as nothing
        tree = m_dropped ? Core_ZorvaneMerge::zorvane_node_t() : std::move(read);
        return true;
    }

private:
    static constexpr std::size_t kPiece = 256 * 1024;

    // The decoded text so far goes to the tree's reader.
    void hand_on() {
        if (!m_reader.joinable() && !m_inline) {
            try {
                // The XML library is set up already: the record's own
                // reader started before any of its text came.
                m_reader = std::thread([this] { read_pieces(); });
            } catch (const std::system_error&) {
                m_inline = true;  // no thread to be had: read here
            }
        }
        if (m_inline) {
            if (!m_tree.feed(m_decoded)) m_tree_ended = true;
        } else if (!m_pipe.put(m_decoded)) {
            m_tree_ended = true;  // the reader is done with the document
        }
        m_decoded.clear();
    }

    void read_pieces() {
        try {
            std::string piece;
            while (m_pipe.take(piece)) {
                if (!m_tree.feed(piece)) break;
            }
        } catch (...) {
            m_failure = std::current_exception();
        }
        m_pipe.stop();
    }

    Core_Common::base64_decoder_t m_decoder;
    std::string m_decoded;
    bool m_tree_ended = false;
    bool m_dropped = false;
    bool m_inline = false;
    // Used by the reading thread alone until it is joined.
    Core_ZorvaneMerge::tree_document_reader_t m_tree;
    std::exception_ptr m_failure;
    Core_Common::piece_pipe_t m_pipe;
    std::thread m_reader;
};

class record_reader_t final : public Core_Common::xml_event_handler_t {
public:
    // With `content`, the first "Content" field's text goes there instead of
    // into `marks` (the field is added with no text).
    explicit record_reader_t(xml_node_t& marks, content_reader_t* content = nullptr)
        : m_marks(marks), m_content(content) {}
    bool found() const { return m_found; }
    bool content_seen() const { return m_content_seen; }

    bool start_element(std::string_view name) override {
        ++m_depth;
        if (m_depth == 2 && !m_found && name == "BookMarks") {
            m_found = true;
            m_in_marks = true;
        } else if (m_depth == 3 && m_in_marks) {
            m_field = &m_marks.add_child(Core_Platform::utf8_to_wide(name));
            m_field_has_element = false;
            m_in_content = m_content != nullptr && !m_content_seen && name == "Content";
            if (m_in_content) m_content_seen = true;
        } else if (m_depth == 4 && m_field != nullptr && !m_field_has_element) {
            m_field->text.clear();
            m_field_has_element = true;
            if (m_in_content) m_content->drop();
        }
        return true;
    }
    bool end_element() override {
        if (m_depth == 3) {
            m_field = nullptr;
            m_in_content = false;
        }
        if (m_depth == 2) m_in_marks = false;
        --m_depth;
        return true;
    }
    bool text(std::string_view utf8) override {
        if (m_depth == 3 && m_field != nullptr && !m_field_has_element) {
            if (m_in_content) {
                m_content->text(utf8);
            } else {
                m_field->text.append(utf8);
            }
        }
        return true;
    }

private:
    xml_node_t& m_marks;
    content_reader_t* m_content;
    int m_depth = 0;
    bool m_found = false;
    bool m_in_marks = false;
    xml_node_t* m_field = nullptr;
    bool m_field_has_element = false;
    bool m_in_content = false;
    bool m_content_seen = false;
};

record_fields_enum read_record_fields(const std::string& document, record_fields_t& fields) {
    fields.marks.clear();
    fields.marks.name = kRecordBookMarks;
    record_reader_t reader(fields.marks);
    switch (Core_Common::read_xml_events(document, reader)) {
        case Core_Common::XML_STREAM_READ:
            return reader.found() ? FIELDS_READ : FIELDS_NO_BOOKMARKS;
        case Core_Common::XML_STREAM_NEEDS_TREE:
            break;
        case Core_Common::XML_STREAM_MALFORMED:
        case Core_Common::XML_STREAM_STOPPED:
            return FIELDS_MALFORMED;
    }
    // A document the stream leaves to the whole-document form.
    xml_node_t root;
    if (!root.parse(document)) return FIELDS_MALFORMED;
    xml_node_t* marks = root.find_child(kRecordBookMarks);
    if (marks == nullptr) return FIELDS_NO_BOOKMARKS;
    fields.marks = std::move(*marks);
    return FIELDS_READ;
}

// The checks and fields of a record's "BookMarks" element (`marks`), with
// its tree read already; on RECORD_LOADED the outputs are set.
record_load_enum take_record(const xml_node_t& marks, const account_t& account,
                             Core_ZorvaneMerge::zorvane_node_t&& tree, bool has_content,
                             sync_record_t& record, std::string& client_type, bool* local_changes) {
    std::u16string user_name;
    if (!marks.get_child(kRecordUsername, user_name)) return RECORD_MALFORMED;
    if (user_name != account.user_name) return RECORD_OTHER_USER;
    std::string password;
    if (!marks.get_child(kRecordPassword, password)) return RECORD_MALFORMED;
    if (password != password_hash_text(account.password)) return RECORD_WRONG_PASSWORD;
    std::int32_t version = 0;
    if (!marks.get_child(kRecordVersion, version)) return RECORD_MALFORMED;
    std::string date;
    marks.get_child(kRecordDateTime, date);
    std::string stored_type;
    marks.get_child(kRecordClientType, stored_type);
    std::int32_t changes = 0;
    marks.get_child(kRecordLocalChanges, changes);
    if (!has_content) return RECORD_MALFORMED;
    record.version = version;
    record.date = std::move(date);
    record.tree = std::move(tree);
    client_type = std::move(stored_type);
    if (local_changes != nullptr) *local_changes = changes != 0;
    return RECORD_LOADED;
}

// A record file's bytes once deciphered (a gzip member), read as they
// inflate: the document is never whole in memory, nor is the Base64 text of
// its tree or the tree's document. False when the document only reads whole
// (a document type declaration, a tree document with a text run beyond
// 10 MB): the caller reads it the whole way.
bool load_record_streaming(std::string_view member, const account_t& account, sync_record_t& record,
                           std::string& client_type, bool* local_changes,
                           record_load_enum& outcome) {
    xml_node_t marks;
    marks.name = kRecordBookMarks;
    content_reader_t content;
    record_reader_t reader(marks, &content);
    Core_Common::xml_push_reader_t xml(reader, true);
    const bool inflated = Core_Common::gzip_decompress(
        member, [&](std::string_view piece) { return xml.feed(piece) || true; },
        Core_Common::max_record_document_bytes);
    if (!inflated) {
        outcome = RECORD_UNDECIPHERABLE;
        return true;
    }
    switch (xml.finish()) {
        case Core_Common::XML_STREAM_READ:
            break;
        case Core_Common::XML_STREAM_NEEDS_TREE:
            return false;
        case Core_Common::XML_STREAM_MALFORMED:
        case Core_Common::XML_STREAM_STOPPED:
            outcome = RECORD_UNDECIPHERABLE;
            return true;
    }
    if (!reader.found()) {
        outcome = RECORD_MALFORMED;
        return true;
    }
    Core_ZorvaneMerge::zorvane_node_t tree;
    if (reader.content_seen() && !content.finish(tree)) return false;
    outcome = take_record(marks, account, std::move(tree), reader.content_seen(), record,
                          client_type, local_changes);
    return true;
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

namespace {

// The document of the table, as xml_node_t::serialize(bytes, false) gives it,
// with "Content" (last but for "LocalChanges") holding the Base64 text of the
// tree document: the head up to that text, and the tail after it.
struct record_frame_t {
    std::string head;
    std::string tail;
};

record_frame_t record_frame(const account_t& account, const sync_record_t& record,
                            const std::string& client_type, bool local_changes) {
    std::string frame;
    {
        Core_Common::xml_writer_t w(frame, false);
        w.open("Zorvane");
        w.open("BookMarks");
        w.leaf("Username", Core_Platform::wide_to_utf8(account.user_name));
        w.leaf("Password", Core_Platform::ansi_to_utf8(password_hash_text(account.password)));
        w.leaf("Version", std::to_string(record.version));
        w.leaf("DateTime", Core_Platform::ansi_to_utf8(record.date));
        w.leaf("ClientType", Core_Platform::ansi_to_utf8(client_type));
        // Base64 text is plain ASCII, the same in the ANSI code page and in
        // UTF-8, and needs no escaping.
        w.leaf("Content", "=");
        if (local_changes) w.leaf("LocalChanges", "1");
        w.close();
        w.close();
    }
    const std::size_t content_at = frame.rfind("<Content>=</Content>") + 9;
    return {frame.substr(0, content_at), frame.substr(content_at + 1)};
}

}  // namespace

// The text after the head is made and packed a piece at a time, so neither
// the tree document nor its Base64 text (for a large tree over a hundred
// megabytes) is ever whole in memory; the head goes in front when the member
// is finished.
struct record_content_t {
    Core_Common::gzip_writer_t packer;
    bool packed = false;
    bool local_changes = false;
};

void record_content_deleter_t::operator()(record_content_t* content) const { delete content; }

record_content_ptr pack_record_content(const Core_ZorvaneMerge::zorvane_node_t& tree,
                                       bool local_changes) {
    record_content_ptr content(new record_content_t);
    content->local_changes = local_changes;
    Core_Common::gzip_writer_t& packer = content->packer;
    packer.expect(tree.children.size() * 600 + 1024);
    bool packed = true;
    Core_Common::base64_encoder_t encoder;
    std::string text;
    Core_ZorvaneMerge::write_tree(tree, [&](std::string_view piece) {
        encoder.add(piece, text);
        packed = packed && packer.add(text);
        text.clear();
    });
    encoder.finish(text);
    // The tail is the same whatever the head holds.
    const record_frame_t frame = record_frame(account_t{}, sync_record_t{}, "", local_changes);
    content->packed = packed && packer.add(text) && packer.add(frame.tail);
    return content;
}

bool save_record_file(std::u16string_view directory, const account_t& account,
                      const sync_record_t& record, const std::string& client_type,
                      bool local_changes, record_content_ptr content) {
    if (!tree_present(record.tree)) return false;
    if (!usable_directory(directory)) return false;
    if (g_fail_compress.load()) return false;
    if (!content || content->local_changes != local_changes) {
        content = pack_record_content(record.tree, local_changes);
    }
    const record_frame_t frame = record_frame(account, record, client_type, local_changes);
    std::string bytes;
    if (!content->packed || !content->packer.finish_after(frame.head, bytes)) return false;
    content.reset();
    if (g_fail_encrypt.load() || !Core_Common::encrypt(kStorePassphrase, bytes)) return false;
    return Core_Common::write_private_file(store_path(directory, kSyncRecordFileName), bytes);
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
                                  sync_record_t& record, std::string& client_type,
                                  bool* local_changes) {
    if (!usable_directory(directory)) return RECORD_NO_DIRECTORY;
    std::string bytes;
    if (!Core_Common::read_whole_file(store_path(directory, kSyncRecordFileName), bytes)) {
        return RECORD_UNREADABLE;
    }
    if (!Core_Common::decrypt(kStorePassphrase, bytes)) return RECORD_UNDECIPHERABLE;
    record_load_enum outcome = RECORD_UNDECIPHERABLE;
    if (load_record_streaming(bytes, account, record, client_type, local_changes, outcome)) {
        return outcome;
    }

    // A document that only reads whole. The record holds the largest tree a
    // sync carries, as Base64 text.
    if (!Core_Common::gzip_decompress(bytes, Core_Common::max_record_document_bytes)) {
        return RECORD_UNDECIPHERABLE;
    }
    record_fields_t fields;
    switch (read_record_fields(bytes, fields)) {
        case FIELDS_READ:
            break;
        case FIELDS_MALFORMED:
            return RECORD_UNDECIPHERABLE;
        case FIELDS_NO_BOOKMARKS:
            return RECORD_MALFORMED;
    }
    bytes = std::string();
    // Base64 text is plain ASCII, the same in every form: it is taken as it
    // stands rather than converted.
    xml_node_t* content_field = fields.marks.find_child(kRecordContent);
    Core_ZorvaneMerge::zorvane_node_t tree;
    if (content_field != nullptr) {
        std::string tree_document = Core_Common::base64_decode(content_field->text);
        content_field->text = std::string();
        Core_ZorvaneMerge::read_tree(tree_document, tree);
    }
    return take_record(fields.marks, account, std::move(tree), content_field != nullptr, record,
                       client_type, local_changes);
}

void delete_record_file(std::u16string_view directory) {
    if (!usable_directory(directory)) return;
    Core_Common::remove_file(store_path(directory, kSyncRecordFileName));
    remove_stale_store_temporaries(directory);
}

bool save_notes_file(std::u16string_view directory, std::u16string_view user_name,
                     const std::string& notes) {
    if (directory.empty()) return false;
    if (!Core_Common::is_directory(directory) &&
        !Core_Common::create_private_directories(directory)) {
        return false;
    }
    std::string bytes = notes;
    if (!pack(notes_passphrase(user_name), bytes)) return false;
    return Core_Common::write_private_file(store_path(directory, kNotesFileName), bytes);
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
    remove_stale_store_temporaries(directory);
}

void remove_stale_store_temporaries(std::u16string_view directory) {
    if (directory.empty()) return;
    for (const char16_t* name : {kSyncRecordFileName, kNotesFileName, kPeerIdFileName}) {
        Core_Common::remove_stale_temporaries(store_path(directory, name));
    }
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
        Core_Common::write_private_file(path, fresh.to_bytes());  // a failure is ignored
    }
    return fresh.to_hex();
}

// Declared for the tests in sync_client/store_faults_testing.h.
void set_store_faults(bool fail_compress, bool fail_encrypt);
void set_store_faults(bool fail_compress, bool fail_encrypt) {
    g_fail_compress.store(fail_compress);
    g_fail_encrypt.store(fail_encrypt);
}

}  // namespace Core_ZorvaneClient
