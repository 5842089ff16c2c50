// Internal to the zorvane program: where a sync command keeps an account's
// local files (the record of the last sync, the note, the peer identifier),
// and making sure it can keep them there before anything is sent.
#pragma once

#include <string>

namespace Zorvane_Cli {

// The server of a command: `given` when not empty, else $ZORVANE_SERVER when
// set and not empty, else "localhost"; ":8080" is added when no port is
// named.
std::string server_or_default(const std::string& given);

// The directory name of an account: the user name and the server
// ("HOST:PORT") joined by "@", each byte outside [A-Za-z0-9._:[]-] written as
// %XX and a leading "." as %2E, so that every account has a directory of its
// own and no name can climb out of the parent (".." or "/").
std::string account_directory_name(const std::string& user, const std::string& server);

// The default data directory of an account:
// $XDG_DATA_HOME/zorvane/NAME (~/.local/share/zorvane/NAME), NAME as
// account_directory_name gives it. Empty, with `error` set, when the user's
// data directory is not known (no home directory).
std::string default_data_directory(const std::string& user, const std::string& server,
                                   std::string& error);

// Makes sure `path` is a directory this process can write files in: missing
// directories (parents included) are created with mode 0700, an existing
// one is left as it is; a file is then created in it and removed again.
// Returns false with `error` naming the path and the system's reason when
// any of this fails.
bool prepare_data_directory(const std::string& path, std::string& error);

}  // namespace Zorvane_Cli
