// Public engine surface: the local data files of the sync client.
//
// Three files live in the data directory (sync_client/client_settings.h):
//   "zorvane.dat"          the record of the last synchronisation:
//                          envelope (common/crypto.h) under kStorePassphrase
//                          over a gzip member over an XML document
//                          Zorvane/BookMarks with Username, Password (the
//                          password's hash text), Version, DateTime,
//                          ClientType and Content (Base64 of the tree
//                          document), and LocalChanges ("1") while the
//                          browser's tree is not known to descend from the
//                          record's tree (sync_client/zorvane_client.h);
//   "zorvane_notes.dat"    the user's notes: envelope under kStorePassphrase
//                          followed by the user name (ANSI code page) over a
//                          gzip member over the notes bytes;
//   "zorvane_peer_id.dat"  the installation's peer identifier, 20 raw bytes.
// Every file is read whole and replaced whole and atomically
// (common/whole_file.h): a failed save leaves the previous file as it was.
// The files, and their temporary files while they are written, are private:
// mode 0600 whatever the umask; a data directory the store creates is 0700.
// An empty directory path means "no data directory": nothing is read,
// written or removed.
//
// Thread rule: no shared state besides the files; callers serialise their
// use of one directory (the engine uses it from the main thread only).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sync_client/account.h"
#include "sync_client/sync_record.h"

namespace Core_ZorvaneClient {

inline constexpr std::string_view kStorePassphrase = "Rm4$xQ8!aJ3";
inline constexpr const char16_t* kSyncRecordFileName = u"zorvane.dat";
inline constexpr const char16_t* kNotesFileName = u"zorvane_notes.dat";
inline constexpr const char16_t* kPeerIdFileName = u"zorvane_peer_id.dat";

// `directory` with `file_name` appended as one more path component.
std::u16string store_path(std::u16string_view directory, std::u16string_view file_name);

// The text stored as "Password": the 40 lower-case hex digits of the SHA-1 of
// the password's UTF-16LE bytes (no terminator); 40 zeros for an empty one.
std::string password_hash_text(std::u16string_view password);

// The part of a record file that the version and date of a sync do not
// change, packed ahead: the Base64 text of a tree's document and what follows
// it (pack_record_content). A commit's client packs it while the server
// stores the tree, and the record is then written with only its head left to
// pack. Made on any one thread, then handed over whole; used once.
struct record_content_t;
struct record_content_deleter_t {
    void operator()(record_content_t* content) const;
};
using record_content_ptr = std::unique_ptr<record_content_t, record_content_deleter_t>;
record_content_ptr pack_record_content(const Core_ZorvaneMerge::zorvane_node_t& tree,
                                       bool local_changes);

// Writes the record file for `account`, `record`, `client_type` and
// `local_changes`. With `content`, that is what pack_record_content gave for
// record.tree and local_changes (the caller knows it is), and the tree is not
// written again. Returns false, writing nothing, when the record's tree is
// not present, when the directory does not exist (it is not created), or
// when packing fails; otherwise returns whether the atomic write succeeded.
bool save_record_file(std::u16string_view directory, const account_t& account,
                      const sync_record_t& record, const std::string& client_type,
                      bool local_changes = false, record_content_ptr content = nullptr);

// Why a record file does or does not load.
enum record_load_enum {
    RECORD_LOADED = 0,
    RECORD_NO_DIRECTORY,    // the data directory does not exist
    RECORD_UNREADABLE,      // the file is missing or cannot be read
    RECORD_UNDECIPHERABLE,  // damaged, or not written with the record passphrase
    RECORD_MALFORMED,       // not a record document, or an element is missing
    RECORD_OTHER_USER,      // written for another user name (letter case counts)
    RECORD_WRONG_PASSWORD,  // written with another password
};

// A one-line description of a load outcome, for people.
const char* record_load_text(record_load_enum outcome);

// Reads the record file and checks it against `account` (user name exactly,
// password by its hash text). On RECORD_LOADED stores the record (a
// non-numeric "Version" reads as 0; a "Content" tree that does not read
// gives the empty tree) and the stored client type ("ClientType", empty when
// absent) and, when asked, whether local changes were pending (false for a
// file without "LocalChanges"). On any other outcome the outputs are left
// unchanged.
record_load_enum load_record_file(std::u16string_view directory, const account_t& account,
                                  sync_record_t& record, std::string& client_type,
                                  bool* local_changes = nullptr);

// Removes the record file if the directory exists, and the temporary files a
// crashed save of any store file left behind. Missing files are fine.
void delete_record_file(std::u16string_view directory);

// Writes the notes file of `user_name`, creating the directory (with its
// parents, mode 0700) when it is missing. Returns false, writing nothing, when packing
// fails, and false when the directory or the file cannot be written.
bool save_notes_file(std::u16string_view directory, std::u16string_view user_name,
                     const std::string& notes);

// The notes of `user_name`; empty when there is no directory or no file, or
// when the file does not open under that user's passphrase (another user's
// notes, a damaged file).
std::string load_notes_file(std::u16string_view directory, std::u16string_view user_name);

// Removes the notes file, and stale temporary files as delete_record_file.
void delete_notes_file(std::u16string_view directory);

// Removes the temporary files that crashed saves of the three store files
// left in `directory` (common/whole_file.h, remove_stale_temporaries). Every
// save removes those of its own file too.
void remove_stale_store_temporaries(std::u16string_view directory);

// The installation's peer identifier as 40 lower-case hex digits. Taken from
// the peer file when it holds exactly 20 bytes; otherwise 20 new random bytes
// are written as the whole file (a failed write is ignored, so without a
// usable directory every call gives a new identifier).
std::string peer_id_in(std::u16string_view directory);

}  // namespace Core_ZorvaneClient
