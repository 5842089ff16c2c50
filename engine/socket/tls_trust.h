// Public engine surface: how the socket layer decides whether to trust a
// TLS server, and the errors it reports when it does not.
//
// A connection opened for TLS ("tls://HOST[:PORT]" above the wire layer)
// checks the server's certificate chain against the trust set below and the
// certificate's names against HOST (a DNS name, or an IP address compared as
// an address), and sends HOST as the server name unless it is an address.
// Nothing is sent before both checks pass: a failed check closes the
// connection with an error of tls_category (no fallback to clear text).
//
// The trust set is the system's CA store, or, once set_tls_ca_file has
// named a file, the PEM certificates in that file alone. A certificate in
// the file is trusted as it is, so the file may hold a CA or the server's
// own (pinned) certificate.
//
// Thread rule: every function may be called from any thread. A change of
// the file applies to connections opened after it.
#pragma once

#include <boost/system/error_code.hpp>
#include <string>

namespace Core_Socket {

// Values of tls_category besides the certificate checks' own results (the
// positive values are OpenSSL's X509_V_ERR_* numbers).
enum tls_error_enum : int {
    // The CA file named by set_tls_ca_file does not read or holds no
    // certificate.
    TLS_CA_FILE_UNUSABLE = -1,
    // The server closed the connection during the handshake (it may not
    // speak TLS on that port).
    TLS_CLOSED_IN_HANDSHAKE = -2,
    // Any other handshake failure; the library's reason is in the message
    // when it is known (values below this one carry it).
    TLS_HANDSHAKE_FAILED = -3,
};

// The category of TLS failures, name "tls". message() says in one line why
// the server was not trusted or why the handshake failed:
//   "the server's certificate was not trusted: certificate verify failed:
//    self-signed certificate", "... : host name mismatch", ...
//   "TLS handshake failed: the server closed the connection", ...
const boost::system::error_category& tls_category();

// Whether `ec` is a TLS failure (of tls_category).
bool is_tls_error(const boost::system::error_code& ec);

// Names the CA file or pinned certificate to trust instead of the system
// store; an empty path goes back to the system store.
void set_tls_ca_file(const std::string& path);
// The file set_tls_ca_file named last (empty: the system store).
std::string tls_ca_file();

}  // namespace Core_Socket
