// Internal to sync_client/: the sync client's log messages, all in one
// place, and the one way it writes them (context 1, level NORMAL, category
// SOFT_UPDATE, empty origin, origin number 0).
#pragma once

#include <string>

namespace Core_ZorvaneClient {

inline constexpr const char* kLogSetUser = "Set User Name = ";
inline constexpr const char* kLogProfileId = " , ProfileID = ";
inline constexpr const char* kLogCommitRunning = "Processing Commit, Operation Canceled.";
inline constexpr const char* kLogOverwriteRunning = "Processing Over Write, Operation Canceled.";
inline constexpr const char* kLogStartUpdate = "Start Request Update.";
inline constexpr const char* kLogSyncInvalid = "Bookmarks Invalid. Sync Failed.";
inline constexpr const char* kLogOverwriteInvalid = "Bookmarks Invalid. Commit Failed.";
inline constexpr const char* kLogStartSyncRequest = "Start Request Sync.";
inline constexpr const char* kLogStartSync = "Start Sync Bookmarks.";
inline constexpr const char* kLogStartOverwriteRequest = "Start Request Over Write.";
inline constexpr const char* kLogStartOverwrite = "Start Over Write Bookmarks.";
inline constexpr const char* kLogUpdateFailed = "Update Bookmarks Failed.";
inline constexpr const char* kLogSyncFailed = "Sync Bookmarks Failed.";
inline constexpr const char* kLogOverwriteFailed = "OverWrite Bookmarks Failed.";
inline constexpr const char* kLogUnknownAction = "Unknow Bookmarks Action.";
inline constexpr const char* kLogTreeTooLarge = "Bookmarks Too Large. Request Refused. Bytes = ";
inline constexpr const char* kLogUpdateLatest =
    "Update Bookmarks Succeed. Local Is Last Version = ";
inline constexpr const char* kLogUpdateVersion = "Update Bookmarks Succeed. Version = ";
inline constexpr const char* kLogOverwriteVersion = "OverWrite Bookmarks Succeed. Version = ";

// Writes `message` to the engine's log as the sync client's record.
void log_sync(std::string message);

}  // namespace Core_ZorvaneClient
