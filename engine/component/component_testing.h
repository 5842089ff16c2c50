// Test support (test programs only): the real component library loaded into
// a running runtime, an observer that records notifications, and a
// zorvane-server process with one account on a temporary SQLite store.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bookmarks/bookmark_node.h"
#include "bookmarks/tree_xml.h"
#include "component/zorvane_extension.h"
#include "host/component_loader.h"
#include "platform/temp_dir_testing.h"
#include "process_testing.h"
#include "server_process_testing.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_observer.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ns_service_manager.h"
#include "xpcom/runtime_host.h"

namespace Core_ZorvaneComponent::testing {

struct notification_t {
    std::string topic;
    std::u16string data;
};

// Records every notification of the three topics, in order.
class recording_observer final : public nsIObserver {
public:
    nsresult QueryInterface(const nsIID& iid, void** result) override {
        if (iid.Equals(NS_IOBSERVER_IID) || iid.Equals(NS_ISUPPORTS_IID)) {
            AddRef();
            *result = static_cast<nsIObserver*>(this);
            return NS_OK;
        }
        *result = nullptr;
        return NS_NOINTERFACE;
    }
    nsrefcnt AddRef() override { return ++m_refs; }
    nsrefcnt Release() override {
        const nsrefcnt n = --m_refs;
        if (n == 0) delete this;
        return n;
    }
    nsresult Observe(nsISupports*, const char* topic, const char16_t* data) override {
        seen.push_back({topic, data ? std::u16string(data) : std::u16string()});
        return NS_OK;
    }
    std::vector<notification_t> seen;

private:
    ~recording_observer() = default;
    nsrefcnt m_refs = 0;
};

// The runtime started (with or without an observer service) and the
// component library registered in it; stopped again by the destructor.
class runtime_with_component {
public:
    explicit runtime_with_component(std::uint32_t flags = ZV_RUNTIME_DEFAULT) {
        EXPECT_EQ(zv_runtime_init(flags), NS_OK);
        std::string error;
        EXPECT_EQ(zv_host::load_component(ZV_COMPONENT_LIBRARY, &error), NS_OK) << error;
        if ((flags & ZV_RUNTIME_NO_OBSERVER_SERVICE) == 0) {
            observer = new recording_observer();
            observer->AddRef();
            nsCOMPtr<nsIServiceManager> services;
            EXPECT_EQ(NS_GetServiceManager(services.receive()), NS_OK);
            nsCOMPtr<nsIObserverService> observers;
            EXPECT_EQ(
                services->GetServiceByContractID(NS_OBSERVERSERVICE_CONTRACTID,
                                                 NS_IOBSERVERSERVICE_IID, observers.receive_void()),
                NS_OK);
            for (const char* topic :
                 {ZORVANE_UPDATE_TOPIC, ZORVANE_SYNC_TOPIC, ZORVANE_OVERWRITE_TOPIC}) {
                EXPECT_EQ(observers->AddObserver(observer, topic, false), NS_OK);
            }
        }
    }
    ~runtime_with_component() {
        zv_runtime_shutdown();
        if (observer) observer->Release();
    }
    runtime_with_component(const runtime_with_component&) = delete;
    runtime_with_component& operator=(const runtime_with_component&) = delete;

    std::vector<notification_t> seen() const {
        return observer ? observer->seen : std::vector<notification_t>();
    }

    recording_observer* observer = nullptr;
};

// A new extension object through the contract identifier (null on failure).
inline nsCOMPtr<IZorvaneExtension> make_extension() {
    nsCOMPtr<IZorvaneExtension> extension;
    EXPECT_EQ(zv_host::create_component_instance(ZORVANE_EXTENSION_CONTRACTID,
                                                 ZORVANE_IEXTENSION_IID, extension.receive_void()),
              NS_OK);
    return extension;
}

// Calls processEvents every few milliseconds until `done` answers true or
// `limit` passes; returns `done()`.
inline bool pump_until(IZorvaneExtension* extension, const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        extension->processEvents();
        usleep(5000);
    }
    return done();
}

inline std::u16string u16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

inline std::string narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// A browser tree: the root with the menu, toolbar and unfiled folders, and
// `count` bookmarks in the menu.
inline std::string browser_tree(int count, const std::string& prefix = "b") {
    using namespace Core_ZorvaneMerge;
    zorvane_node_t root;
    root.guid = std::string(kRootGuid);
    root.type = NODE_FOLDER;
    for (std::string_view guid : {kMenuGuid, kToolbarGuid, kUnfiledGuid}) {
        zorvane_node_t folder;
        folder.guid = std::string(guid);
        folder.type = NODE_FOLDER;
        folder.title = u16(std::string(guid));
        root.children.push_back(folder);
    }
    for (int i = 0; i < count; ++i) {
        zorvane_node_t bookmark;
        bookmark.guid = prefix + std::to_string(i);
        bookmark.type = NODE_BOOKMARK;
        bookmark.title = u16("Bookmark " + prefix + std::to_string(i));
        bookmark.url = "http://example.org/" + prefix + std::to_string(i);
        root.children[0].children.push_back(bookmark);
    }
    std::string out;
    write_tree(root, out);
    return out;
}

// A port on 127.0.0.1 where nothing listens.
inline std::uint16_t closed_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t size = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    close(fd);
    return ntohs(addr.sin_port);
}

// A fresh temporary directory, removed by the destructor.
class temp_dir : public Core_Platform::testing::temp_dir_t {
public:
    temp_dir() : temp_dir_t("zv_component") {}
    std::string text() const { return path().string(); }
};

// A zorvane-server on a free loopback port over a temporary SQLite store,
// with the account `user` / `password`.
class test_server {
public:
    explicit test_server(const std::string& user = "alice",
                         const std::string& password = "s3cret pass") {
        const std::string store = "sqlite:" + m_dir.text() + "/server.db";
        const auto added = Core_Server::testing::run_process(
            ZV_SERVER_BINARY, {"--store", store, "user", "add", user, "--password-stdin"}, {},
            password + "\n");
        EXPECT_EQ(added.status, 0) << added.err;
        m_process = std::make_unique<Core_Server::testing::server_process_t>(store);
    }
    std::uint16_t port() const { return m_process->port(); }
    std::string address() const { return "127.0.0.1:" + std::to_string(port()); }

private:
    temp_dir m_dir;
    std::unique_ptr<Core_Server::testing::server_process_t> m_process;
};

// Points the component at `address` for the next framework start.
inline void use_server(const std::string& address) { setenv("ZORVANE_SERVER", address.c_str(), 1); }

}  // namespace Core_ZorvaneComponent::testing
