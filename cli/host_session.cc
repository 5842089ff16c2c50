#include "host_session.h"

#include <thread>

#include "host/component_loader.h"
#include "platform/environment.h"
#include "platform/strings.h"
#include "platform/terminal.h"
#include "tree_file.h"
#include "xpcom/ns_service_manager.h"
#include "xpcom/runtime_host.h"

namespace Zorvane_Cli {
namespace {

constexpr std::chrono::milliseconds kPumpInterval{5};

std::u16string wide(const std::string& utf8) { return Core_Platform::utf8_to_wide(utf8); }

std::string text_of(const nsString& s) { return Core_Platform::wide_to_utf8(s.view()); }

}  // namespace

nsresult action_observer::Observe(nsISupports*, const char* topic, const char16_t* data) {
    m_results[topic] = data ? std::u16string(data) : std::u16string();
    return NS_OK;
}

bool action_observer::take(const std::string& topic, std::string& result) {
    auto it = m_results.find(topic);
    if (it == m_results.end()) return false;
    result = Core_Platform::wide_to_utf8(it->second);
    m_results.erase(it);
    return true;
}

wide_document::wide_document(const std::string& utf8) : m_text(Core_Platform::utf8_to_wide(utf8)) {
    if (m_text.size() >= NS_STRING_WHOLE ||
        NS_FAILED(NS_StringContainerInit2(m_container, m_text.c_str(),
                                          static_cast<std::uint32_t>(m_text.size()),
                                          NS_STRING_CONTAINER_INIT_DEPEND))) {
        NS_StringContainerInit(m_container);
    }
}

wide_document::~wide_document() { NS_StringContainerFinish(m_container); }

host_session::~host_session() {
    m_info.reset();
    m_extension.reset();
    if (m_observer) {
        if (m_observers) {
            for (const char* topic :
                 {ZORVANE_UPDATE_TOPIC, ZORVANE_SYNC_TOPIC, ZORVANE_OVERWRITE_TOPIC}) {
                m_observers->RemoveObserver(m_observer, topic);
            }
        }
        m_observers.reset();
        m_observer->Release();
    }
    if (m_started) zv_runtime_shutdown();
}

bool host_session::pass_settings(const std::string& server, bool log,
                                 std::chrono::seconds request_timeout, const std::string& tls_ca) {
    if (!Core_Platform::set_environment_value("ZORVANE_SERVER", server) ||
        (!tls_ca.empty() && !Core_Platform::set_environment_value("ZORVANE_TLS_CA", tls_ca)) ||
        (log && !Core_Platform::set_environment_value("ZORVANE_LOG", "1")) ||
        (request_timeout.count() > 0 &&
         !Core_Platform::set_environment_value("ZORVANE_REPLY_TIMEOUT",
                                               std::to_string(request_timeout.count())))) {
        m_err << m_program << ": cannot pass the server to the component\n";
        return false;
    }
    return true;
}

bool host_session::open(const std::string& component, const std::string& data_dir,
                        const std::string& user, const std::string& password) {
    if (NS_FAILED(zv_runtime_init())) {
        m_err << m_program << ": the component runtime does not start\n";
        return false;
    }
    m_started = true;
    std::string why;
    if (NS_FAILED(zv_host::load_component(component, &why))) {
        m_err << m_program << ": " << why << "\n";
        return false;
    }
    nsCOMPtr<nsIServiceManager> services;
    if (NS_FAILED(NS_GetServiceManager(services.receive())) ||
        NS_FAILED(services->GetServiceByContractID(
            NS_OBSERVERSERVICE_CONTRACTID, NS_IOBSERVERSERVICE_IID, m_observers.receive_void()))) {
        m_err << m_program << ": the runtime has no observer service\n";
        return false;
    }
    m_observer = new action_observer();
    m_observer->AddRef();
    for (const char* topic : {ZORVANE_UPDATE_TOPIC, ZORVANE_SYNC_TOPIC, ZORVANE_OVERWRITE_TOPIC}) {
        m_observers->AddObserver(m_observer, topic, false);
    }
    if (NS_FAILED(zv_host::create_component_instance(
            ZORVANE_EXTENSION_CONTRACTID, ZORVANE_IEXTENSION_IID, m_extension.receive_void()))) {
        m_err << m_program << ": " << component << " does not create the extension object\n";
        return false;
    }
    m_extension->setDataDirectory(nsString(wide(data_dir)));
    m_extension->setUser(nsString(wide(user)), nsString(wide(password)));
    m_extension->getInfo(m_info.receive());
    return m_info.get() != nullptr;
}

bool host_session::wait(const char* topic, std::chrono::seconds timeout, std::string& result) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + timeout;
    const bool show = Core_Platform::standard_error_is_terminal();
    long shown = 0;
    for (;;) {
        m_extension->processEvents();
        const auto now = std::chrono::steady_clock::now();
        const bool done = m_observer->take(topic, result);
        if (done || now >= end) {
            if (shown > 0) m_err << "\r\033[K" << std::flush;
            return done;
        }
        const long waited = static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(now - start).count());
        if (show && waited > shown) {
            shown = waited;
            nsString status;
            m_info->getStatus(status);
            std::string what = text_of(status);
            if (const auto dot = what.rfind('.'); dot != std::string::npos) what.erase(0, dot + 1);
            m_err << "\r" << what << "... " << waited << " s" << std::flush;
        }
        std::this_thread::sleep_for(kPumpInterval);
    }
}

std::int32_t host_session::version() const {
    std::int32_t v = -1;
    m_info->getVersion(&v);
    return v;
}

std::string host_session::tree() const {
    nsString t;
    m_info->getTree(t);
    return text_of(t);
}

void host_session::tree_text(std::optional<nsString>& out) const {
    out.emplace();
    m_info->getTree(*out);
}

std::size_t host_session::tree_nodes() const {
    nsCOMPtr<IZorvaneTreeCount> count;
    std::uint32_t nodes = 0;
    if (NS_SUCCEEDED(m_info->QueryInterface(ZORVANE_ITREECOUNT_IID, count.receive_void())) &&
        NS_SUCCEEDED(count->getTreeNodes(&nodes))) {
        return nodes;
    }
    std::optional<nsString> text;
    tree_text(text);
    return nodes_in_document(text->view());
}

std::string host_session::failure() const {
    nsCOMPtr<IZorvaneFailure> why;
    nsString text;
    if (NS_SUCCEEDED(m_info->QueryInterface(ZORVANE_IFAILURE_IID, why.receive_void()))) {
        why->getFailure(text);
    }
    return text_of(text);
}

std::string host_session::date() const {
    nsString d;
    m_info->getDate(d);
    return text_of(d);
}

}  // namespace Zorvane_Cli
