// Public engine surface: what the wire layer reports to a protocol client.
//
// A link (wire/wire_link.h) is bound to one protocol client, named by its
// index in the wire layer's table of 21 clients (InterfaceWire), and to one
// owner object of that client. The wire layer calls the client through this
// interface; a binding made from InterfaceWireCallbackClientTemplate<T>
// forwards each operation to the static function of the same name of T, so
// the wire layer never names a client's classes.
//
// The consumed result of on_received: n >= 0 consumes n bytes from the front
// (0: not enough yet); -1 consumes everything and closes the link now; -2
// consumes everything and closes it once the send buffer is empty. A result
// larger than the offered size is a fatal error.
//
// Thread rule: every operation is called on the main thread (inside the
// framework's pump), never with a link's lock held.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>

namespace Core_Wire {

class WireLinkLayer;

class InterfaceWireCallback {
public:
    virtual ~InterfaceWireCallback() = default;

    // A link without a client received data; true claims the link.
    virtual bool recognize(const char* data, std::size_t size, std::uint32_t remote_address,
                           std::uint16_t remote_port, std::uint32_t local_address,
                           std::uint16_t local_port) = 0;
    // Right after a claim; the client may set the owner.
    virtual void attach(WireLinkLayer* link, void*& owner) = 0;
    // The link is closing down; the client must empty `owner`. After this
    // call the link is gone.
    virtual void on_closed(WireLinkLayer* link, void*& owner,
                           const boost::system::error_code& ec) = 0;
    // The link's connection is established.
    virtual void on_connected(WireLinkLayer* link, void* owner) = 0;
    // A connect that was started failed (on_closed follows).
    virtual void on_connect_failed(WireLinkLayer* link, void* owner,
                                   const boost::system::error_code& ec) = 0;
    // The receive buffer holds `size` unconsumed bytes, `new_bytes` of them
    // not offered before; the client stores what it consumed.
    virtual void on_received(WireLinkLayer* link, void* owner, const char* data, std::size_t size,
                             std::size_t new_bytes, std::int32_t& consumed) = 0;
    // The send buffer has been emptied.
    virtual void on_sent(WireLinkLayer* link, void* owner) = 0;
};

// Forwards every operation to the static function of the same name of T.
template <class T>
class InterfaceWireCallbackClientTemplate final : public InterfaceWireCallback {
public:
    bool recognize(const char* data, std::size_t size, std::uint32_t remote_address,
                   std::uint16_t remote_port, std::uint32_t local_address,
                   std::uint16_t local_port) override {
        return T::recognize(data, size, remote_address, remote_port, local_address, local_port);
    }
    void attach(WireLinkLayer* link, void*& owner) override { T::attach(link, owner); }
    void on_closed(WireLinkLayer* link, void*& owner,
                   const boost::system::error_code& ec) override {
        T::on_closed(link, owner, ec);
    }
    void on_connected(WireLinkLayer* link, void* owner) override { T::on_connected(link, owner); }
    void on_connect_failed(WireLinkLayer* link, void* owner,
                           const boost::system::error_code& ec) override {
        T::on_connect_failed(link, owner, ec);
    }
    void on_received(WireLinkLayer* link, void* owner, const char* data, std::size_t size,
                     std::size_t new_bytes, std::int32_t& consumed) override {
        T::on_received(link, owner, data, size, new_bytes, consumed);
    }
    void on_sent(WireLinkLayer* link, void* owner) override { T::on_sent(link, owner); }
};

}  // namespace Core_Wire
