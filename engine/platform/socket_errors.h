// Public engine surface: the socket facts of the platform.
//
// The layers above the socket layer see socket errors as Windows Sockets
// numbers (10060 timed out, 10061 refused, ...) in one error category,
// whatever the operating system reports. This header holds the one table that
// maps the system's codes (errno values, resolver codes) to those numbers,
// the category that names them, and the socket start-up facts (start-up
// status text, last socket error).
//
// The socket layer translates its library's error codes into the "source"
// codes below; nothing here knows about that library.
//
// Thread rule: every function may be called from any thread.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <string>

namespace Core_Platform {

// The Windows Sockets numbers this engine relies on by value.
enum socket_error_enum : int {
    SOCKET_ERROR_OPERATION_ABORTED = 995,
    SOCKET_ERROR_INTERRUPTED = 10004,
    SOCKET_ERROR_INVALID_ARGUMENT = 10022,
    SOCKET_ERROR_WOULD_BLOCK = 10035,
    SOCKET_ERROR_ADDRESS_IN_USE = 10048,
    SOCKET_ERROR_ADDRESS_NOT_AVAILABLE = 10049,
    SOCKET_ERROR_NETWORK_UNREACHABLE = 10051,
    SOCKET_ERROR_CONNECTION_ABORTED = 10053,
    SOCKET_ERROR_CONNECTION_RESET = 10054,
    SOCKET_ERROR_NOT_CONNECTED = 10057,
    SOCKET_ERROR_SHUT_DOWN = 10058,
    SOCKET_ERROR_TIMED_OUT = 10060,
    SOCKET_ERROR_CONNECTION_REFUSED = 10061,
    SOCKET_ERROR_HOST_UNREACHABLE = 10065,
    SOCKET_ERROR_VERSION_NOT_SUPPORTED = 10092,
    SOCKET_ERROR_TYPE_NOT_FOUND = 10109,
    SOCKET_ERROR_HOST_NOT_FOUND = 11001,
    SOCKET_ERROR_TRY_AGAIN = 11002,
    SOCKET_ERROR_NO_RECOVERY = 11003,
    SOCKET_ERROR_NO_DATA = 11004,
};

// Where a system code comes from.
enum socket_error_source_enum : int {
    SOCKET_SOURCE_ERRNO = 0,     // an errno value
    SOCKET_SOURCE_NETDB = 1,     // a host-database code (HOST_NOT_FOUND, TRY_AGAIN, ...)
    SOCKET_SOURCE_ADDRINFO = 2,  // a getaddrinfo code (EAI_NONAME, ...)
};

// The Windows Sockets number of a system code. A code the table does not
// know keeps its value (so its message still reads sensibly).
int socket_error_number(socket_error_source_enum source, int code);

// The category of socket errors: values are Windows Sockets numbers and
// message() gives the system's text for them.
const boost::system::error_category& socket_category();

// An error code of socket_category() with the given Windows Sockets number.
boost::system::error_code make_socket_error(int number);

// Socket start-up. This platform has nothing to start: the call always
// obtains version 2.2. Returns false only when the start-up itself failed.
struct socket_version_t {
    int major = 0;
    int minor = 0;
};
bool socket_startup(socket_version_t& obtained);
// Ends the use of sockets started by socket_startup.
void socket_cleanup();

// The process-wide "last socket error" (0 until set).
void set_last_socket_error(int number);
int last_socket_error();

}  // namespace Core_Platform
