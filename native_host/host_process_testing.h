// Test support (the native_host test program only): the real
// zorvane-native-host process spoken to over its standard input and output
// the way a browser does, and a small browser bookmark store that plays the
// extension's part in a sync (read the tree, send it, apply the operations,
// verify).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "native_messages.h"

namespace Zorvane_Native::testing {

using json = nlohmann::json;

// The messages of a finished program's standard output (frames only).
inline std::vector<json> messages_of(const std::string& out) {
    std::vector<json> got;
    std::size_t at = 0;
    while (at + 4 <= out.size()) {
        std::uint32_t n = 0;
        std::memcpy(&n, out.data() + at, 4);
        if (at + 4 + n > out.size()) break;
        got.push_back(json::parse(out.substr(at + 4, n)));
        at += 4 + n;
    }
    return got;
}

// A call as the browser frames it.
inline std::string call_frame(int id, const std::string& method, const json& params) {
    return encode_frame(json({{"id", id}, {"method", method}, {"params", params}}).dump());
}

// One zorvane-native-host process. Its standard error goes to `log_path`.
// The destructor closes its input and waits for it.
class host_process_t {
public:
    host_process_t(const std::string& binary, const std::map<std::string, std::string>& env,
                   const std::string& log_path) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (log < 0) throw std::runtime_error("cannot open " + log_path);
        m_pid = fork();
        if (m_pid < 0) throw std::runtime_error("fork");
        if (m_pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(log, 2);
            for (int fd : {in[0], in[1], out[0], out[1], log}) close(fd);
            for (const auto& [name, value] : env) {
                if (value.empty()) {
                    unsetenv(name.c_str());
                } else {
                    setenv(name.c_str(), value.c_str(), 1);
                }
            }
            execl(binary.c_str(), binary.c_str(), "chrome-extension://test/", nullptr);
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        close(log);
        m_in = in[1];
        m_out = out[0];
    }
    host_process_t(const host_process_t&) = delete;
    host_process_t& operator=(const host_process_t&) = delete;
    ~host_process_t() { wait(); }

    // Sends one call and returns its answer ({"id", "result"|"error"});
    // notifications in between are kept in events(). Throws when the program
    // ends or stays silent for two minutes (a hung program, not a slow one).
    json call(const std::string& method, const json& params = json::object()) {
        const int id = m_next++;
        const std::string frame =
            encode_frame(json({{"id", id}, {"method", method}, {"params", params}}).dump());
        std::size_t done = 0;
        while (done < frame.size()) {
            const ssize_t n = ::write(m_in, frame.data() + done, frame.size() - done);
            if (n <= 0) throw std::runtime_error("the native host closed its input");
            done += static_cast<std::size_t>(n);
        }
        for (;;) {
            json m = next_message();
            if (m.contains("event")) {
                m_events.push_back(std::move(m));
            } else if (m.value("id", json()) == id) {
                return m;
            }
        }
    }
    // The result of a call that must succeed.
    json result(const std::string& method, const json& params = json::object()) {
        json r = call(method, params);
        if (!r.contains("result")) throw std::runtime_error(method + ": " + r.dump());
        return r["result"];
    }
    const std::vector<json>& events() const { return m_events; }

    // Closes the program's input and returns its exit status.
    int wait() {
        if (m_pid < 0) return m_status;
        close(m_in);
        int status = 0;
        waitpid(m_pid, &status, 0);
        close(m_out);
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }

private:
    json next_message() {
        while (m_buffer.size() < 4 || m_buffer.size() < 4 + frame_size()) {
            pollfd p = {m_out, POLLIN, 0};
            if (poll(&p, 1, 120000) <= 0) throw std::runtime_error("the native host is silent");
            char bytes[65536];
            const ssize_t n = ::read(m_out, bytes, sizeof bytes);
            if (n <= 0) throw std::runtime_error("the native host ended");
            m_buffer.append(bytes, static_cast<std::size_t>(n));
        }
        const std::size_t size = frame_size();
        json m = json::parse(m_buffer.substr(4, size));
        m_buffer.erase(0, 4 + size);
        return m;
    }
    std::size_t frame_size() const {
        std::uint32_t n = 0;
        std::memcpy(&n, m_buffer.data(), 4);
        return n;
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_status = -1;
    int m_next = 1;
    std::string m_buffer;
    std::vector<json> m_events;
};

// A Chromium-like bookmark store: root "0", bookmarks bar "1", other
// bookmarks "2"; ids are decimal. `refuses` says which addresses its API
// refuses to create (the way Firefox refuses "javascript:" ones).
class browser_store_t {
public:
    struct node_t {
        std::string parent;
        std::string kind;  // "f" or "b"
        std::string title;
        std::string url;
        std::string root;
        std::vector<std::string> children;
    };

    browser_store_t() {
        m_nodes["0"] = {"", "f", "", "", "root", {"1", "2"}};
        m_nodes["1"] = {"0", "f", "Bookmarks bar", "", "toolbar", {}};
        m_nodes["2"] = {"0", "f", "Other bookmarks", "", "unfiled", {}};
    }

    std::function<bool(const std::string& url)> refuses = [](const std::string&) { return false; };

    std::string add(const std::string& parent, const std::string& title,
                    const std::string& url = std::string()) {
        const std::string id = std::to_string(m_next++);
        m_nodes[id] = {parent, url.empty() ? "f" : "b", title, url, "", {}};
        m_nodes.at(parent).children.push_back(id);
        return id;
    }

    // The id of the bookmark of `url` (empty when there is none).
    std::string find(const std::string& url) const {
        for (const auto& [id, n] : m_nodes)
            if (n.kind == "b" && n.url == url) return id;
        return std::string();
    }
    void set_url(const std::string& id, const std::string& url) { m_nodes.at(id).url = url; }

    // The records the extension sends: [id, parent, kind, title, url, added,
    // root], parents first.
    json records() const {
        json out = json::array();
        std::function<void(const std::string&)> walk = [&](const std::string& id) {
            const node_t& n = m_nodes.at(id);
            out.push_back({id, n.parent, n.kind, n.title, n.url, 0, n.root});
            for (const std::string& c : n.children) walk(c);
        };
        walk("0");
        return out;
    }

    // Every bookmark's address -> title.
    std::map<std::string, std::string> bookmarks() const {
        std::map<std::string, std::string> out;
        for (const auto& [id, n] : m_nodes)
            if (n.kind == "b") out[n.url] = n.title;
        return out;
    }

    // Applies one page of operations as the extension does; what was created
    // goes into `created` (engine identifier -> id), what was refused into
    // `refused` (the operation's ref or id).
    void apply(const json& ops, json& created, json& refused) {
        for (const json& op : ops) {
            const std::string o = op["o"];
            auto key = [&](const std::string& k) {
                return k.rfind('@', 0) == 0 ? m_refs.count(k.substr(1)) ? m_refs[k.substr(1)] : ""
                                            : k;
            };
            if (o == "create") {
                const std::string parent = key(op["parent"]);
                const std::string url = op.value("url", "");
                if (parent.empty() || !m_nodes.count(parent) || (!url.empty() && refuses(url))) {
                    refused.push_back(op["ref"]);
                    continue;
                }
                const std::string id = std::to_string(m_next++);
                m_nodes[id] = {parent, url.empty() ? "f" : "b", op.value("title", ""), url, "", {}};
                auto& list = m_nodes.at(parent).children;
                const std::size_t at = std::min(op["index"].get<std::size_t>(), list.size());
                list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), id);
                m_refs[op["ref"]] = id;
                created[op["ref"].get<std::string>()] = id;
            } else if (o == "update") {
                node_t& n = m_nodes.at(key(op["id"]));
                n.title = op["title"];
                if (op.contains("url")) n.url = op["url"];
            } else if (o == "move") {
                const std::string id = key(op["id"]);
                auto& old = m_nodes.at(m_nodes.at(id).parent).children;
                std::erase(old, id);
                const std::string parent = key(op["parent"]);
                auto& list = m_nodes.at(parent).children;
                const std::size_t at = std::min(op["index"].get<std::size_t>(), list.size());
                list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), id);
                m_nodes.at(id).parent = parent;
            } else if (o == "remove") {
                remove(op["id"]);
            }
        }
    }

    void remove(const std::string& id) {
        std::erase(m_nodes.at(m_nodes.at(id).parent).children, id);
        std::function<void(const std::string&)> drop = [&](const std::string& n) {
            for (const std::string& c : m_nodes.at(n).children) drop(c);
            m_nodes.erase(n);
        };
        drop(id);
    }

private:
    std::map<std::string, node_t> m_nodes;
    std::map<std::string, std::string> m_refs;
    int m_next = 10;
};

// What one sync did, as the extension would report it.
struct sync_outcome_t {
    std::string status;  // the host's status, "OK" when the browser shows the synced tree
    bool sent_tree = false;
    std::size_t operations = 0;
    std::size_t refused = 0;
    bool applying = false;         // the host said an earlier apply was cut short
    json removed = json::array();  // the remove operations the host planned
};

// How the extension runs a sync.
struct sync_options_t {
    // Whether the user changed the browser since an apply that was cut short.
    bool edited = true;
    std::size_t page_limit = 0;  // operations per page (0: as many as fit)
    // Stop after applying this many pages (0: never), as a background that
    // is stopped part-way through; the outcome's status is then "stopped".
    std::size_t stop_after_pages = 0;
};

// One sync as the extension runs it, on its own host process: open, the
// tree unless `dirty` is clear and the host knows the browser, sync, the
// operations in pages, then the tree again and verify. `dirty` becomes
// false when the browser shows the synchronised tree.
inline sync_outcome_t sync_browser(host_process_t& host, browser_store_t& browser,
                                   const json& account, bool& dirty,
                                   const sync_options_t& options = {}) {
    sync_outcome_t out;
    const json info = host.result("open", account);
    out.applying = info.value("applying", false);
    json r;
    if (!dirty && info["known"] == true && info["first"] == false) {
        r = host.result("sync", {{"unchanged", true}});
        if (r.value("needTree", false)) r = json();
    }
    auto send_tree = [&] {
        host.result("beginTree", {{"browser", "chromium"}});
        host.result("addNodes", {{"nodes", browser.records()}});
        host.result("endTree");
    };
    if (r.is_null()) {
        send_tree();
        out.sent_tree = true;
        r = host.result("sync", {{"mode", "ask"}, {"edited", options.edited}});
    }
    out.status = r.value("status", "question");
    if (out.status != "OK") return out;
    out.operations = r.value("operations", 0u);
    bool equal = true;
    if (out.operations > 0) {
        std::size_t offset = 0;
        std::size_t pages = 0;
        json created = json::object();
        json refused = json::array();
        for (;;) {
            json page = host.result("operations", {{"offset", offset},
                                                   {"created", created},
                                                   {"refused", refused},
                                                   {"limit", options.page_limit}});
            created = json::object();
            refused = json::array();
            for (const json& op : page["ops"])
                if (op["o"] == "remove") out.removed.push_back(op);
            browser.apply(page["ops"], created, refused);
            out.refused += refused.size();
            if (++pages == options.stop_after_pages) {
                out.status = "stopped";
                return out;
            }
            if (page["next"].is_null()) {
                if (!created.empty() || !refused.empty())
                    host.result(
                        "operations",
                        {{"offset", page["total"]}, {"created", created}, {"refused", refused}});
                break;
            }
            offset = page["next"];
        }
        send_tree();
        equal = host.result("verify")["equal"];
    }
    if (!equal) out.status = "apply_incomplete";
    dirty = !equal;
    return out;
}

}  // namespace Zorvane_Native::testing
