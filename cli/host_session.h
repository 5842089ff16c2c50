// Internal to the host programs (the zorvane program and the browsers'
// native host): one run of a host that plays the browser. It starts the
// component runtime, loads the component library, creates one extension
// object through its contract identifier, observes the action topics'
// notifications, and pumps processEvents the way the browser's scripts do.
//
// Thread rule: one thread, the one that created the session, for its whole
// life (the component's objects and notifications belong to it).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>

#include "component/zorvane_extension.h"
#include "component/zorvane_failure.h"
#include "component/zorvane_tree_count.h"
#include "glue/supports.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_observer.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ns_string.h"

namespace Zorvane_Cli {

// Records the data of the action topics' notifications.
class action_observer final : public zv_glue::supports<action_observer, nsIObserver> {
public:
    nsresult Observe(nsISupports*, const char* topic, const char16_t* data) override;
    // Takes the data (UTF-8) of `topic`'s last notification not taken yet.
    bool take(const std::string& topic, std::string& result);

private:
    friend supports;
    ~action_observer() = default;
    std::map<std::string, std::u16string> m_results;
};

// A tree document handed to the component: its UTF-16 form, in a container
// that uses the text in place rather than copying it (a large tree's
// document is tens of megabytes).
class wide_document {
public:
    explicit wide_document(const std::string& utf8);
    ~wide_document();
    wide_document(const wide_document&) = delete;
    wide_document& operator=(const wide_document&) = delete;

    const nsAString& text() const { return m_container; }
    std::u16string_view view() const { return m_text; }

private:
    std::u16string m_text;
    nsStringContainer m_container;
};

// One run of the host: the runtime, the component and one extension object.
// One-line complaints go to `err`, prefixed with the program's name.
class host_session {
public:
    explicit host_session(std::ostream& err, std::string program = "zorvane")
        : m_err(err), m_program(std::move(program)) {}
    ~host_session();
    host_session(const host_session&) = delete;
    host_session& operator=(const host_session&) = delete;

    // Hands the server, the log switch and (when not 0) the time a request
    // may take, connecting included, to the component through the
    // environment. Called before any other thread of the program starts
    // (changing the environment is not safe while another thread reads it).
    // `tls_ca`, when given, is the CA file or pinned certificate that
    // "tls://" servers are checked against instead of the system's store.
    bool pass_settings(const std::string& server, bool log,
                       std::chrono::seconds request_timeout = std::chrono::seconds(0),
                       const std::string& tls_ca = std::string());

    // Loads the component and signs the user in (the record of the data
    // directory is read). Nothing is written and nothing is sent.
    bool open(const std::string& component, const std::string& data_dir, const std::string& user,
              const std::string& password);

    IZorvaneExtension* extension() const { return m_extension.get(); }
    IZorvaneInfo* info() const { return m_info.get(); }

    // Pumps until `topic`'s notification arrives (true, its data in
    // `result`) or `timeout` passes (false).
    // On a terminal, a line on standard error counts the seconds waited.
    bool wait(const char* topic, std::chrono::seconds timeout, std::string& result);

    // Takes `topic`'s notification when one arrived since the last take,
    // without pumping (for a host that runs its own loop).
    bool take(const char* topic, std::string& result) { return m_observer->take(topic, result); }

    std::int32_t version() const;
    std::string tree() const;
    // The stored tree's document as the component gives it (UTF-16), for
    // handing back or counting without converting it (for a large
    // collection each form is a hundred megabytes or more).
    void tree_text(std::optional<nsString>& out) const;
    // The nodes of that document, which the component counts without
    // writing it (a component that cannot has its document counted).
    std::size_t tree_nodes() const;
    std::string date() const;
    // Why the last action could not talk to the server when the engine can
    // say more than its status key (an untrusted certificate); else empty.
    std::string failure() const;

private:
    std::ostream& m_err;
    std::string m_program;
    bool m_started = false;
    action_observer* m_observer = nullptr;
    nsCOMPtr<nsIObserverService> m_observers;
    nsCOMPtr<IZorvaneExtension> m_extension;
    nsCOMPtr<IZorvaneInfo> m_info;
};

}  // namespace Zorvane_Cli
