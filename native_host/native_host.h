// Internal to zorvane-native-host: the calls the extension makes over its
// native-messaging port, and their answers.
//
// A call is {"id": N, "method": NAME, "params": {...}}; its answer is
// {"id": N, "result": ...} or {"id": N, "error": {"code", "message"}}. The
// engine's notifications are also passed on as {"event": TOPIC, "status":
// KEY}. Calls that talk to the server (update, sync, overwrite) answer when
// the whole action is over; one runs at a time.
//
// The methods:
//   setAccount {profile, server, user, password}  keep the password (keyring or file)
//   open {profile, server, user, wait}  load the component, sign in from the kept
//                                    password; one host per account: waits `wait`
//                                    seconds (default and most 70) for another
//   status                           user, verified, version, date, status, first,
//                                    known, applying (an apply was cut short)
//   beginTree {browser} / addNodes {nodes: [[id, parent, kind, title, url, added, root]...]}
//     / endTree                      the browser's tree, in batches
//   sync {mode: "ask"|"delete"|"keep", unchanged, edited}  the first sync merges
//                                    without deleting; a mass deletion asks (mode
//                                    "ask"); after an apply cut short, `edited`
//                                    false goes on with it, else the tree is merged
//   overwrite {mode} / update
//   operations {offset, created, refused}  the page of operations from offset;
//                                    `created` the browser ids of the nodes the last
//                                    page made, `refused` the creates it refused
//   verify                           is the browser's tree (sent again) the synchronised one?
//   tree {offset}                    the synchronised tree's document, in pages
//   note {action: get|set|delete, text}, forget, wipe, cancel
//   rootsUnchanged, mergeBrowserTree, importForeignTree   on the tree sent
//
// Thread rule: the program's main thread only.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace Zorvane_Native {

class native_host {
public:
    // `send` takes each message for the extension (JSON text, within the
    // browsers' limit); `log` takes one-line messages for standard error.
    native_host(std::function<void(const std::string&)> send, std::ostream& log,
                std::string component_path);
    ~native_host();
    native_host(const native_host&) = delete;
    native_host& operator=(const native_host&) = delete;

    // Handles one message from the extension.
    void handle(const std::string& message);
    // Answers a message the framing refused.
    void refuse(const std::string& why);
    // Runs the engine's pending work; true while an action runs.
    bool pump();
    bool busy() const;
    // Saves what is not saved yet (the identity table); called before exit.
    void finish();

private:
    struct state;
    std::unique_ptr<state> m;
};

}  // namespace Zorvane_Native
