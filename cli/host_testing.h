// Test support (the cli test program only): the zorvane program driven as a
// user would, against a real zorvane-server on a store of either kind, and
// the bookmark trees they exchange.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bookmarks/bookmark_node.h"
#include "bookmarks/tree_xml.h"
#include "process_testing.h"
#include "server_process_testing.h"
#include "store_testing.h"

namespace Zorvane_Cli::testing {

using Core_Server::testing::process_result_t;
using Core_ZorvaneMerge::zorvane_node_t;

struct bookmark_t {
    std::string guid;
    std::string title;
    std::string url;
};

// `a` followed by `b`.
inline std::vector<bookmark_t> operator+(std::vector<bookmark_t> a,
                                         const std::vector<bookmark_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline zorvane_node_t folder(const std::string& guid, const std::string& title) {
    zorvane_node_t f(Core_ZorvaneMerge::NODE_FOLDER, guid);
    f.title = std::u16string(title.begin(), title.end());
    return f;
}

inline zorvane_node_t bookmark(const bookmark_t& b) {
    zorvane_node_t node(Core_ZorvaneMerge::NODE_BOOKMARK, b.guid);
    node.title = std::u16string(b.title.begin(), b.title.end());
    node.url = b.url;
    return node;
}

// A tree with `menu` in the bookmarks menu and `toolbar` in the toolbar (the
// toolbar folder only when it holds something).
inline zorvane_node_t tree_of(const std::vector<bookmark_t>& menu,
                              const std::vector<bookmark_t>& toolbar = {}) {
    zorvane_node_t root = folder("ROOT", "root");
    if (!toolbar.empty()) {
        zorvane_node_t bar = folder("BOOKMARK_TOOLBAR", "Toolbar");
        for (const auto& b : toolbar) bar.children.push_back(bookmark(b));
        root.children.push_back(bar);
    }
    zorvane_node_t m = folder("BOOKMARK_MENU", "Menu");
    for (const auto& b : menu) m.children.push_back(bookmark(b));
    root.children.push_back(m);
    return root;
}

// `count` bookmarks named after `prefix`: PREFIXi, "Site PREFIXi",
// http://example.org/PREFIXi.
inline std::vector<bookmark_t> bookmarks(int count, const std::string& prefix) {
    std::vector<bookmark_t> out;
    for (int i = 0; i < count; ++i) {
        const std::string id = prefix + std::to_string(i);
        out.push_back({id, "Site " + id, "http://example.org/" + id});
    }
    return out;
}

// `tree` as it reads back from its document (children indexed by position,
// as every tree the programs exchange is).
inline zorvane_node_t as_read(const zorvane_node_t& tree) {
    std::string text;
    Core_ZorvaneMerge::write_tree(tree, text);
    zorvane_node_t out;
    Core_ZorvaneMerge::read_tree(text, out);
    return out;
}

// The menu holding `count` bookmarks named after `prefix`.
inline zorvane_node_t make_tree(int count, const std::string& prefix) {
    return tree_of(bookmarks(count, prefix));
}

// Every bookmark below `tree`, address -> title (UTF-8).
inline std::map<std::string, std::string> bookmarks_by_url(const zorvane_node_t& tree) {
    std::map<std::string, std::string> out;
    std::vector<const zorvane_node_t*> todo = {&tree};
    while (!todo.empty()) {
        const zorvane_node_t* node = todo.back();
        todo.pop_back();
        if (node->type == Core_ZorvaneMerge::NODE_BOOKMARK) {
            std::string title;
            for (const char16_t c : node->title) title += static_cast<char>(c);
            out[node->url] = title;
        }
        for (const auto& child : node->children) todo.push_back(&child);
    }
    return out;
}

inline std::map<std::string, std::string> bookmarks_by_url(const std::vector<bookmark_t>& list) {
    std::map<std::string, std::string> out;
    for (const auto& b : list) out[b.url] = b.title;
    return out;
}

// The key=value lines of a command's output.
inline std::map<std::string, std::string> parse_lines(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every regular file of `dir` by name, with its bytes.
inline std::map<std::string, std::string> directory_bytes(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            out[entry.path().filename().string()] = read_file(entry.path().string());
        }
    }
    return out;
}

// Success when `after` holds the same files with the same bytes as
// `before`; otherwise names what differs.
inline ::testing::AssertionResult same_files(const std::map<std::string, std::string>& before,
                                             const std::map<std::string, std::string>& after) {
    std::string differences;
    for (const auto& [name, bytes] : before) {
        const auto it = after.find(name);
        if (it == after.end()) {
            differences += " " + name + " is gone;";
        } else if (it->second != bytes) {
            differences += " " + name + " changed (" + std::to_string(bytes.size()) + " -> " +
                           std::to_string(it->second.size()) + " bytes);";
        }
    }
    for (const auto& [name, bytes] : after) {
        if (before.count(name) == 0) differences += " " + name + " appeared;";
    }
    if (differences.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the data directory changed:" << differences;
}

// One account ("alice") on a store, a zorvane-server serving it on a free
// loopback port, and data directories under a scratch directory for the
// zorvane program to sync. start() is called from SetUp under
// ASSERT_NO_FATAL_FAILURE.
class host_rig_t {
public:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "horse battery";
    static constexpr const char* kPasswordVariable = "ZV_TEST_PW";

    // `serve_options` are added to the server's serve command (TLS, ...).
    void start(const std::string& store_url, const std::vector<std::string>& serve_options = {}) {
        m_store = store_url;
        const auto added = server_command({"user", "add", kUser, "--password-stdin"},
                                          std::string(kPassword) + "\n");
        ASSERT_EQ(added.status, 0) << added.out << added.err;
        m_server = std::make_unique<Core_Server::testing::server_process_t>(m_store, serve_options);
    }
    bool started() const { return m_server != nullptr; }

    const std::string& store() const { return m_store; }
    Core_Server::testing::server_process_t& server() { return *m_server; }
    // `name` in the scratch directory.
    std::string path(const std::string& name) const { return (m_dir.path() / name).string(); }
    std::string data_dir(const std::string& data) const { return path(data); }

    std::string write_tree_file(const std::string& name, const zorvane_node_t& tree) const {
        std::string text;
        Core_ZorvaneMerge::write_tree(tree, text);
        const std::string file = path(name);
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

    // The --server text zorvane() gives from now on (a proxy in front of
    // the server); empty: the server itself.
    void route_through(const std::string& server) { m_route = server; }

    // zorvane with the data directory `data` (created when missing), this
    // server (or the route) and the password in the environment, then
    // `args`.
    process_result_t zorvane(const std::string& data, const std::vector<std::string>& args,
                             const std::string& input = std::string(),
                             const std::string& password = kPassword,
                             const std::string& user = kUser) {
        std::vector<std::string> all = {
            "--data-dir",
            data_dir(data),
            "--server",
            m_route.empty() ? "127.0.0.1:" + std::to_string(m_server->port()) : m_route,
            "--user",
            user,
            "--password-env",
            kPasswordVariable,
            "--timeout",
            "30"};
        all.insert(all.end(), args.begin(), args.end());
        std::filesystem::create_directories(data_dir(data));
        m_data_dirs.insert(data);
        return Core_Server::testing::run_process(ZV_ZORVANE_BINARY, all,
                                                 {{kPasswordVariable, password}}, input);
    }

    // zorvane store show for `data`: the record's key=value lines (empty when
    // it does not open; the failure is reported) and, in `*tree`, its tree.
    std::map<std::string, std::string> show_record(const std::string& data,
                                                   zorvane_node_t* tree = nullptr) {
        const std::string out = path(data + ".record.xml");
        const auto r = Core_Server::testing::run_process(
            ZV_ZORVANE_BINARY,
            {"store", "show", "--data-dir", data_dir(data), "--user", kUser, "--password-env",
             kPasswordVariable, "--tree", out},
            {{kPasswordVariable, kPassword}});
        EXPECT_EQ(r.status, 0) << "the record of " << data << " does not open: " << r.out << r.err;
        if (r.status != 0) return {};
        if (tree) Core_ZorvaneMerge::read_tree(read_file(out), *tree);
        return parse_lines(r.out);
    }

    // The last synchronised tree of `data`, through zorvane export.
    zorvane_node_t exported(const std::string& data) {
        const std::string out = path(data + ".export.xml");
        const auto r = zorvane(data, {"export", "--out", out});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        zorvane_node_t tree;
        Core_ZorvaneMerge::read_tree(read_file(out), tree);
        return tree;
    }

    // zorvane-server --store STORE `args`.
    process_result_t server_command(const std::vector<std::string>& args,
                                    const std::string& input = std::string()) const {
        std::vector<std::string> all = {"--store", m_store};
        all.insert(all.end(), args.begin(), args.end());
        return Core_Server::testing::run_process(ZV_SERVER_BINARY, all, {}, input);
    }

    // The versions `zorvane-server history` lists for kUser, newest first.
    std::vector<int> history() const {
        const auto r = server_command({"history", kUser});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        std::vector<int> out;
        std::istringstream in(r.out);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) out.push_back(std::stoi(line));
        return out;
    }

    // The data directories zorvane() has used.
    const std::set<std::string>& data_dirs() const { return m_data_dirs; }

private:
    Core_Server::testing::temp_dir_t m_dir;
    std::string m_store;
    std::unique_ptr<Core_Server::testing::server_process_t> m_server;
    std::set<std::string> m_data_dirs;
    std::string m_route;
};

}  // namespace Zorvane_Cli::testing
