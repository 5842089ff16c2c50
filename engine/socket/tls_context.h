// Internal to the socket layer: the client TLS context and the reading of a
// failed handshake.
#pragma once

#include <openssl/ssl.h>

#include <boost/asio/ssl/context.hpp>
#include <boost/system/error_code.hpp>
#include <memory>
#include <string>

namespace Core_Socket {

// The client context for the current trust set (tls_trust.h): TLS 1.2 or
// later, peer verification on. Made once per trust set and shared. On
// failure returns null and sets `ec` (TLS_CA_FILE_UNUSABLE).
std::shared_ptr<boost::asio::ssl::context> client_tls_context(boost::system::error_code& ec);

// Prepares `ssl` to talk to `host`: the server name for a DNS name, and the
// name or address the certificate must carry. False when the library
// refuses the name.
bool prepare_tls_peer(SSL* ssl, const std::string& host);

// The error a failed handshake on `ssl` reports, from the handshake's own
// completion code `ec`: the certificate check's result when it failed, else
// a TLS_* value of tls_category.
boost::system::error_code handshake_error(SSL* ssl, const boost::system::error_code& ec);

}  // namespace Core_Socket
