#include "component/component_objects.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <new>
#include <optional>
#include <string>

#include "bookmarks/tree_xml.h"
#include "common/fingerprint.h"
#include "common/log_dispatcher.h"
#include "common/piece_pipe.h"
#include "component/sync_date.h"
#include "component/zorvane_failure.h"
#include "component/zorvane_tree_count.h"
#include "platform/environment.h"
#include "platform/strings.h"
#include "socket/tls_trust.h"
#include "startup/framework.h"
#include "startup/start_up_settings.h"
#include "sync_client/client_settings.h"
#include "sync_client/completion_callbacks.h"
#include "sync_client/zorvane_client.h"
#include "sync_client/zorvane_error.h"
#include "xpcom/ns_com_ptr.h"
#include "xpcom/ns_observer_service.h"
#include "xpcom/ns_service_manager.h"

namespace Core_ZorvaneComponent {
namespace {

using Core_ZorvaneClient::ZorvaneClient;

// Process-wide state of the component front (main thread only).
std::int32_t g_instances = 0;
bool g_callbacks_registered = false;
std::u16string g_update_data;
std::u16string g_sync_data;
std::u16string g_overwrite_data;

// The host names the server and switches the engine's log on through the
// environment, since the component's own settings are out of its reach.
constexpr const char* kServerVariable = "ZORVANE_SERVER";
constexpr const char* kLogVariable = "ZORVANE_LOG";
// Whole seconds a request may take, connecting included (the session's
// whole-reply deadline); a host that bounds its wait hands its bound down.
constexpr const char* kReplyTimeoutVariable = "ZORVANE_REPLY_TIMEOUT";
// A CA file or pinned certificate to trust for "tls://" servers instead of
// the system's store.
constexpr const char* kTlsCaVariable = "ZORVANE_TLS_CA";

ZorvaneClient* client() { return ZorvaneClient::instance(); }

// Counts the calls that may change the sync client's trees: every method
// but the getters (the pump included: replies and timers run in it), and
// each start and stop of the engine. The methods that read a document
// (sync, overwrite, mergeBrowserTree) need not count: reading one uses up
// the document handed out.
std::uint64_t g_tree_epoch = 0;
void trees_may_change() { ++g_tree_epoch; }

// The document getTree handed out last, when the working tree of that moment
// reads back as itself: a sync, overwrite or merge handed that same text back
// (the host's usual "nothing changed" sync), with nothing in between that
// could have changed the working tree, takes a copy of the working tree
// instead of converting and reading tens of megabytes again. Used once; the
// text is recognised by its length and its fingerprint under the process's
// key. No copy is made before it is used: most documents handed out never
// come back.
struct handed_document_t {
    std::uint32_t length = 0;
    Core_Common::fingerprint_t::value_t fingerprint{};
    std::uint64_t epoch = 0;
    const ZorvaneClient* client = nullptr;
};
std::optional<handed_document_t> g_handed;

std::string to_utf8(const nsAString& text) {
    nsCString utf8;
    if (NS_FAILED(NS_UTF16ToCString(text, NS_CSTRING_ENCODING_UTF8, utf8))) return std::string();
    return std::string(utf8.view());
}

// Calls `use` with the UTF-8 form of a tree document, left where the
// conversion put it (a large tree's document is tens of megabytes).
template <class Use>
auto with_utf8(const nsAString& text, Use use) {
    nsCString utf8;
    if (NS_FAILED(NS_UTF16ToCString(text, NS_CSTRING_ENCODING_UTF8, utf8)))
        return use(std::string_view());
    return use(utf8.view());
}

// UTF-16 code units converted at a time on the way in: a megabyte or so of
// UTF-8, which the reader takes while it is in the cache.
constexpr std::uint32_t kPieceUnits = 512 * 1024;

// Whether `text` is the document getTree handed out last, with nothing
// since that could have changed the working tree. Asked once per document
// handed out.
bool handed_back(const nsAString& text) {
    if (!g_handed) return false;
    const handed_document_t handed = *g_handed;
    g_handed.reset();
    const char16_t* data = nullptr;
    const std::uint32_t length = NS_StringGetData(text, &data);
    const ZorvaneClient* c = client();
    return c != nullptr && c == handed.client && handed.epoch == g_tree_epoch &&
           length == handed.length &&
           Core_Common::fingerprint_t::of(Core_Common::fingerprint_t::process_key(), data,
                                          length * sizeof(char16_t)) == handed.fingerprint;
}

// The tree of a tree document (the empty tree when it does not read). The
// document is converted and read a piece at a time, so its UTF-8 form (for a
// large tree over a hundred megabytes) is never whole in memory; each piece
// goes through the same conversion as the whole would, and no surrogate
// pair is cut. The few documents that only read whole are read the whole
// way.
Core_ZorvaneMerge::zorvane_node_t read_tree_document(const nsAString& text) {
    if (handed_back(text)) return client()->working_tree();
    const char16_t* data = nullptr;
    const std::uint32_t length = NS_StringGetData(text, &data);
    // The pieces are converted on a thread of their own while this one reads
    // them (for a large document each pass takes a few hundred
    // milliseconds). `put` takes each converted piece and says whether more
    // are wanted; false when a piece does not convert.
    const auto convert = [data, length](const std::function<bool(std::string_view)>& put) {
        for (std::uint32_t at = 0; at < length;) {
            std::uint32_t n = std::min(length - at, kPieceUnits);
            if (at + n < length && data[at + n - 1] >= 0xD800 && data[at + n - 1] <= 0xDBFF) --n;
            nsStringContainer piece;
            NS_StringContainerInit2(
                piece, data + at, n,
                NS_STRING_CONTAINER_INIT_DEPEND | NS_STRING_CONTAINER_INIT_SUBSTRING);
            nsCString utf8;
            const bool converted =
                NS_SUCCEEDED(NS_UTF16ToCString(piece, NS_CSTRING_ENCODING_UTF8, utf8));
            NS_StringContainerFinish(piece);
            if (!converted) return false;
            if (!put(utf8.view())) return true;
            at += n;
        }
        return true;
    };
    Core_ZorvaneMerge::tree_document_reader_t reader;
    // Out of memory counts as a piece that does not convert; a reader done
    // with the document takes no more pieces.
    const bool converted =
        Core_Common::pipe_pieces(convert, [&](std::string_view utf8) { return reader.feed(utf8); });
    // A text that does not convert reads as no document at all.
    if (!converted) return Core_ZorvaneMerge::zorvane_node_t();
    Core_ZorvaneMerge::zorvane_node_t tree;
    if (reader.finish(tree)) return tree;
    return with_utf8(text, [](std::string_view utf8) {
        Core_ZorvaneMerge::zorvane_node_t whole;
        Core_ZorvaneMerge::read_tree(utf8, whole);
        return whole;
    });
}

std::u16string to_wide(const nsAString& text) { return Core_Platform::utf8_to_wide(to_utf8(text)); }

nsresult set_wide(nsAString& out, const std::u16string& text) {
    return NS_StringSetData(out, text.data(), static_cast<std::uint32_t>(text.size()));
}

nsresult set_utf8(nsAString& out, const std::string& utf8) {
    return set_wide(out, Core_Platform::utf8_to_wide(utf8));
}

// The document of `tree`, written a piece at a time and each piece widened
// straight into `out`'s own buffer (for a large tree the UTF-8 document is
// over a hundred megabytes and is never whole in memory). The pieces are
// written on a thread of their own while this one widens them: for a large
// tree each pass takes a few hundred milliseconds. The buffer grows by half
// at a time; large buffers grow in place. A document that does not convert
// leaves `out` empty, as the whole conversion would.
// With `fingerprint`, the text set is added to it. With `reads_back`, the
// writing thread also sets it to whether the tree reads back as itself.
nsresult set_tree(nsAString& out, const Core_ZorvaneMerge::zorvane_node_t* tree,
                  Core_Common::fingerprint_t* fingerprint = nullptr, bool* reads_back = nullptr) {
    if (tree == nullptr || !Core_ZorvaneClient::tree_present(*tree)) {
        if (reads_back != nullptr) *reads_back = false;
        return set_wide(out, std::u16string());
    }
    char16_t* buffer = nullptr;
    std::uint64_t capacity = 0;
    std::uint64_t length = 0;
    // write_tree ends its pieces after whole elements: no character is cut.
    const auto widen = [&](std::string_view utf8) {
        // A UTF-8 byte gives at most one UTF-16 unit.
        if (length + utf8.size() > capacity) {
            capacity = std::max(length + utf8.size(), capacity + capacity / 2);
            if (capacity >= NS_STRING_WHOLE ||
                NS_StringGetMutableData(out, static_cast<std::uint32_t>(capacity), &buffer) == 0) {
                return false;
            }
        }
        std::size_t count = 0;
        if (!Core_Platform::utf8_to_wide_into(utf8, buffer + length, count)) return false;
        if (fingerprint != nullptr) fingerprint->add(buffer + length, count * sizeof(char16_t));
        length += count;
        return true;
    };
    const auto write = [tree, reads_back](const auto& put) {
        Core_ZorvaneMerge::write_tree(*tree, [&](std::string_view utf8) { put(utf8); });
        if (reads_back != nullptr) *reads_back = Core_ZorvaneMerge::reads_back_as_itself(*tree);
        return true;
    };
    bool widened = true;
    const bool written = Core_Common::pipe_pieces(
        write, [&](std::string_view utf8) { return widened = widen(utf8); });
    // A writer that failed on its thread lacked memory.
    if (!written) capacity = NS_STRING_WHOLE;
    const bool ok = widened && written;
    if (!ok) {
        set_wide(out, std::u16string());
        return capacity >= NS_STRING_WHOLE ? NS_ERROR_OUT_OF_MEMORY : NS_OK;
    }
    NS_StringGetMutableData(out, static_cast<std::uint32_t>(length), &buffer);
    return NS_OK;
}

// Stores the status key of `error` as the topic's data and notifies the
// observers; skipped when the runtime offers no observer service.
void notify(const char* topic, std::u16string& data, const boost::system::error_code& error) {
    data = Core_ZorvaneClient::status_key(error);
    nsCOMPtr<nsIServiceManager> services;
    if (NS_FAILED(NS_GetServiceManager(services.receive())) || !services) return;
    nsCOMPtr<nsIObserverService> observers;
    if (NS_FAILED(services->GetServiceByContractID(
            NS_OBSERVERSERVICE_CONTRACTID, NS_IOBSERVERSERVICE_IID, observers.receive_void())) ||
        !observers) {
        return;
    }
    observers->NotifyObservers(nullptr, topic, data.c_str());
}

void register_callbacks() {
    Core_ZorvaneClient::set_update_done([](const boost::system::error_code& error) {
        notify(ZORVANE_UPDATE_TOPIC, g_update_data, error);
    });
    Core_ZorvaneClient::set_sync_done(
        [](const boost::system::error_code& error, const Core_ZorvaneMerge::zorvane_node_t&) {
            notify(ZORVANE_SYNC_TOPIC, g_sync_data, error);
        });
    Core_ZorvaneClient::set_overwrite_done([](const boost::system::error_code& error) {
        notify(ZORVANE_OVERWRITE_TOPIC, g_overwrite_data, error);
    });
}

void start_engine() {
    std::string value;
    Core_ZorvaneClient::set_server_host(
        Core_Platform::environment_value(kServerVariable, value) ? value : std::string());
    value.clear();
    Core_Socket::set_tls_ca_file(
        Core_Platform::environment_value(kTlsCaVariable, value) ? value : std::string());
    value.clear();
    if (Core_Platform::environment_value(kLogVariable, value) && !value.empty() && value != "0") {
        Core_Common::set_log_enabled(true);
    }
    value.clear();
    if (Core_Platform::environment_value(kReplyTimeoutVariable, value)) {
        int seconds = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (ec == std::errc() && end == value.data() + value.size() && seconds > 0) {
            Core_Common::start_up_settings().session_reply_timeout_seconds = seconds;
        }
    }
    Core_Common::start_framework();
    Core_Common::start_modules();
}

// The info object also answers IZorvaneFailure and IZorvaneTreeCount (all
// share one count); nsISupports is its IZorvaneInfo.
class InterfaceZorvaneInfo final : public zv_glue::supports<InterfaceZorvaneInfo, IZorvaneInfo,
                                                            IZorvaneFailure, IZorvaneTreeCount> {
public:
    nsresult getUserName(nsAString& user_name) override {
        const ZorvaneClient* c = client();
        return set_wide(user_name, c ? c->account().user_name : std::u16string());
    }
    nsresult getVerified(std::int32_t* verified) override {
        if (verified == nullptr) return NS_ERROR_NULL_POINTER;
        const ZorvaneClient* c = client();
        *verified = (c && c->account().verified) ? 1 : 0;
        return NS_OK;
    }
    nsresult getTree(nsAString& tree) override {
        const ZorvaneClient* c = client();
        g_handed.reset();
        const Core_ZorvaneMerge::zorvane_node_t* working = c ? &c->working_tree() : nullptr;
        // Whether the text can be recognised when it comes back is worked
        // out while it is written.
        Core_Common::fingerprint_t fingerprint(Core_Common::fingerprint_t::process_key());
        bool reads_back = false;
        const nsresult rv = set_tree(tree, working, &fingerprint, &reads_back);
        const std::uint32_t length = NS_StringGetData(tree, nullptr);
        if (NS_SUCCEEDED(rv) && reads_back && length != 0) {
            g_handed = handed_document_t{length, fingerprint.finish(), g_tree_epoch, c};
        }
        return rv;
    }
    nsresult getVersion(std::int32_t* version) override {
        if (version == nullptr) return NS_ERROR_NULL_POINTER;
        const ZorvaneClient* c = client();
        *version = c ? c->last_sync().version : -1;
        return NS_OK;
    }
    nsresult getDate(nsAString& date) override {
        const ZorvaneClient* c = client();
        const std::string shown = c ? display_date(c->last_sync().date) : std::string();
        return set_wide(date, Core_Platform::utf8_to_wide(Core_Platform::ansi_to_utf8(shown)));
    }
    nsresult getStatus(nsAString& status) override {
        const ZorvaneClient* c = client();
        const char16_t* key = u"zorvane.kernel.status.idle";
        switch (c ? c->status() : Core_ZorvaneClient::ACTION_IDLE) {
            case Core_ZorvaneClient::ACTION_UPDATING:
                key = u"zorvane.kernel.status.updating";
                break;
            case Core_ZorvaneClient::ACTION_SYNCING:
                key = u"zorvane.kernel.status.syncing";
                break;
            case Core_ZorvaneClient::ACTION_OVERWRITING:
                key = u"zorvane.kernel.status.overwriting";
                break;
            default:
                break;
        }
        return set_wide(status, key);
    }
    nsresult getTreeNodes(std::uint32_t* nodes) override {
        if (nodes == nullptr) return NS_ERROR_NULL_POINTER;
        const ZorvaneClient* c = client();
        // What getTree writes: nothing without a tree.
        const std::size_t count = c && Core_ZorvaneClient::tree_present(c->working_tree())
                                      ? Core_ZorvaneMerge::nodes_written(c->working_tree())
                                      : 0;
        *nodes = static_cast<std::uint32_t>(std::min<std::size_t>(count, UINT32_MAX));
        return NS_OK;
    }
    nsresult getFailure(nsAString& failure) override {
        const ZorvaneClient* c = client();
        // Only what the user can act on (trust, TLS) is worth more than the
        // status key; the socket errors' texts are not.
        if (c == nullptr || !Core_Socket::is_tls_error(c->transport_error())) {
            return set_wide(failure, std::u16string());
        }
        return set_utf8(failure, c->transport_error().message());
    }

private:
    friend supports;
    ~InterfaceZorvaneInfo() = default;
};

class InterfaceZorvaneLocalNote final
    : public zv_glue::supports<InterfaceZorvaneLocalNote, IZorvaneLocalNote> {
public:
    nsresult getNote(nsAString& note) override {
        const ZorvaneClient* c = client();
        return set_utf8(note, c ? c->load_notes() : std::string());
    }
    nsresult setNote(const nsAString& note) override {
        if (const ZorvaneClient* c = client()) c->save_notes(to_utf8(note));
        return NS_OK;
    }
    nsresult deleteNote() override {
        if (const ZorvaneClient* c = client()) c->delete_notes();
        return NS_OK;
    }

private:
    friend supports;
    ~InterfaceZorvaneLocalNote() = default;
};

}  // namespace

InterfaceZorvaneExtension::InterfaceZorvaneExtension() {
    if (!g_callbacks_registered) {
        register_callbacks();
        g_callbacks_registered = true;
    }
    // The framework runs while at least one extension object lives; an
    // object made after the last one went starts it afresh rather than
    // living without a sync client.
    if (g_instances == 0) {
        trees_may_change();
        start_engine();
    }
    ++g_instances;
}

InterfaceZorvaneExtension::~InterfaceZorvaneExtension() {
    if (--g_instances == 0) {
        trees_may_change();
        Core_Common::stop_framework();
    }
}

nsresult InterfaceZorvaneExtension::setUser(const nsAString& user_name, const nsAString& password) {
    trees_may_change();
    if (ZorvaneClient* c = client()) c->set_user(to_wide(user_name), to_wide(password), 0);
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::setDataDirectory(const nsAString& directory) {
    trees_may_change();
    Core_ZorvaneClient::set_data_directory(to_wide(directory));
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::getInfo(IZorvaneInfo** info) {
    if (info == nullptr) return NS_ERROR_NULL_POINTER;
    *info = new (std::nothrow) InterfaceZorvaneInfo();
    if (*info == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    (*info)->AddRef();
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::getLocalNote(IZorvaneLocalNote** note) {
    if (note == nullptr) return NS_ERROR_NULL_POINTER;
    *note = new (std::nothrow) InterfaceZorvaneLocalNote();
    if (*note == nullptr) return NS_ERROR_OUT_OF_MEMORY;
    (*note)->AddRef();
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::overwrite(const nsAString& tree) {
    if (ZorvaneClient* c = client()) c->start_overwrite(read_tree_document(tree));
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::sync(const nsAString& tree) {
    ZorvaneClient* c = client();
    if (c == nullptr) return NS_OK;
    if (handed_back(tree)) {
        c->start_sync_of_working_tree();
    } else {
        c->start_sync(read_tree_document(tree));
    }
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::importForeignTree(const nsAString& tree) {
    trees_may_change();
    if (ZorvaneClient* c = client())
        with_utf8(tree, [c](std::string_view utf8) { c->import_foreign_tree(utf8); });
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::rootsUnchanged(const nsAString& tree, std::int32_t* unchanged) {
    if (unchanged == nullptr) return NS_ERROR_NULL_POINTER;
    const ZorvaneClient* c = client();
    *unchanged =
        (c && with_utf8(tree, [c](std::string_view utf8) { return c->roots_unchanged(utf8); })) ? 1
                                                                                                : 0;
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::mergeBrowserTree(const nsAString& tree) {
    if (ZorvaneClient* c = client()) c->merge_browser_tree(read_tree_document(tree));
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::processEvents() {
    trees_may_change();
    Core_Common::process_pending();
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::update() {
    trees_may_change();
    if (ZorvaneClient* c = client()) c->start_update(false);
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::forgetUser() {
    trees_may_change();
    if (ZorvaneClient* c = client()) {
        c->forget_user();
        c->delete_notes();
    }
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::deleteLocalData() {
    trees_may_change();
    if (ZorvaneClient* c = client()) {
        c->delete_sync_record();
        c->delete_notes();
    }
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::cancel() {
    trees_may_change();
    if (ZorvaneClient* c = client()) c->reset();
    return NS_OK;
}

nsresult InterfaceZorvaneExtension::getSyncInputTree(nsAString& tree) {
    const ZorvaneClient* c = client();
    if (c == nullptr) return set_tree(tree, nullptr);
    const Core_ZorvaneClient::sync_record_t input = c->sync_input_record();
    return set_tree(tree, &input.tree);
}

std::int32_t live_extensions() { return g_instances; }

std::u16string last_notification(const char* topic) {
    const std::string name(topic == nullptr ? "" : topic);
    if (name == ZORVANE_UPDATE_TOPIC) return g_update_data;
    if (name == ZORVANE_SYNC_TOPIC) return g_sync_data;
    if (name == ZORVANE_OVERWRITE_TOPIC) return g_overwrite_data;
    return std::u16string();
}

}  // namespace Core_ZorvaneComponent
