#include "session/soap_client_module.h"

#include "session/soap_session.h"

namespace Core_SOAPClient {

bool InterfaceSOAPClient::recognize(const char*, std::size_t, std::uint32_t, std::uint16_t,
                                    std::uint32_t, std::uint16_t) {
    return false;
}

void InterfaceSOAPClient::attach(Core_Wire::WireLinkLayer*, void*&) {}

void InterfaceSOAPClient::on_closed(Core_Wire::WireLinkLayer* link, void*& owner,
                                    const boost::system::error_code& ec) {
    auto* session = static_cast<soap_wire_t*>(owner);
    owner = nullptr;
    session->on_closed(link, ec);
}

void InterfaceSOAPClient::on_connected(Core_Wire::WireLinkLayer* link, void* owner) {
    static_cast<soap_wire_t*>(owner)->on_connected(link);
}

void InterfaceSOAPClient::on_connect_failed(Core_Wire::WireLinkLayer* link, void* owner,
                                            const boost::system::error_code& ec) {
    static_cast<soap_wire_t*>(owner)->on_connect_failed(link, ec);
}

void InterfaceSOAPClient::on_received(Core_Wire::WireLinkLayer* link, void* owner, const char* data,
                                      std::size_t size, std::size_t /*new_bytes*/,
                                      std::int32_t& consumed) {
    static_cast<soap_wire_t*>(owner)->on_received(link, data, size, consumed);
}

void InterfaceSOAPClient::on_sent(Core_Wire::WireLinkLayer*, void*) {}

}  // namespace Core_SOAPClient
