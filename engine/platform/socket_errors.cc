#include "platform/socket_errors.h"

#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace Core_Platform {
namespace {

struct socket_error_row_t {
    socket_error_source_enum source;
    int code;
    int number;
    const char* text;
};

// The one table from system codes to Windows Sockets numbers. The first row
// of a number also gives its message.
constexpr socket_error_row_t kSocketErrors[] = {
    {SOCKET_SOURCE_ERRNO, ECANCELED, SOCKET_ERROR_OPERATION_ABORTED, "Operation aborted"},
    {SOCKET_SOURCE_ERRNO, EINTR, SOCKET_ERROR_INTERRUPTED, "Interrupted function call"},
    {SOCKET_SOURCE_ERRNO, EBADF, 10009, "Bad file descriptor"},
    {SOCKET_SOURCE_ERRNO, EACCES, 10013, "Permission denied"},
    {SOCKET_SOURCE_ERRNO, EFAULT, 10014, "Bad address"},
    {SOCKET_SOURCE_ERRNO, EINVAL, SOCKET_ERROR_INVALID_ARGUMENT, "Invalid argument"},
    {SOCKET_SOURCE_ERRNO, EMFILE, 10024, "Too many open files"},
    {SOCKET_SOURCE_ERRNO, EWOULDBLOCK, SOCKET_ERROR_WOULD_BLOCK,
     "Resource temporarily unavailable"},
    {SOCKET_SOURCE_ERRNO, EINPROGRESS, 10036, "Operation now in progress"},
    {SOCKET_SOURCE_ERRNO, EALREADY, 10037, "Operation already in progress"},
    {SOCKET_SOURCE_ERRNO, ENOTSOCK, 10038, "Socket operation on non-socket"},
    {SOCKET_SOURCE_ERRNO, EDESTADDRREQ, 10039, "Destination address required"},
    {SOCKET_SOURCE_ERRNO, EMSGSIZE, 10040, "Message too long"},
    {SOCKET_SOURCE_ERRNO, EPROTOTYPE, 10041, "Protocol wrong type for socket"},
    {SOCKET_SOURCE_ERRNO, ENOPROTOOPT, 10042, "Bad protocol option"},
    {SOCKET_SOURCE_ERRNO, EPROTONOSUPPORT, 10043, "Protocol not supported"},
    {SOCKET_SOURCE_ERRNO, EOPNOTSUPP, 10045, "Operation not supported"},
    {SOCKET_SOURCE_ERRNO, EAFNOSUPPORT, 10047, "Address family not supported by protocol family"},
    {SOCKET_SOURCE_ERRNO, EADDRINUSE, SOCKET_ERROR_ADDRESS_IN_USE, "Address already in use"},
    {SOCKET_SOURCE_ERRNO, EADDRNOTAVAIL, SOCKET_ERROR_ADDRESS_NOT_AVAILABLE,
     "Cannot assign requested address"},
    {SOCKET_SOURCE_ERRNO, ENETDOWN, 10050, "Network is down"},
    {SOCKET_SOURCE_ERRNO, ENETUNREACH, SOCKET_ERROR_NETWORK_UNREACHABLE, "Network is unreachable"},
    {SOCKET_SOURCE_ERRNO, ENETRESET, 10052, "Network dropped connection on reset"},
    {SOCKET_SOURCE_ERRNO, ECONNABORTED, SOCKET_ERROR_CONNECTION_ABORTED,
     "Software caused connection abort"},
    {SOCKET_SOURCE_ERRNO, ECONNRESET, SOCKET_ERROR_CONNECTION_RESET, "Connection reset by peer"},
    {SOCKET_SOURCE_ERRNO, EPIPE, SOCKET_ERROR_CONNECTION_RESET, "Connection reset by peer"},
    {SOCKET_SOURCE_ERRNO, ENOBUFS, 10055, "No buffer space available"},
    {SOCKET_SOURCE_ERRNO, EISCONN, 10056, "Socket is already connected"},
    {SOCKET_SOURCE_ERRNO, ENOTCONN, SOCKET_ERROR_NOT_CONNECTED, "Socket is not connected"},
    {SOCKET_SOURCE_ERRNO, ESHUTDOWN, SOCKET_ERROR_SHUT_DOWN, "Cannot send after socket shutdown"},
    {SOCKET_SOURCE_ERRNO, ETIMEDOUT, SOCKET_ERROR_TIMED_OUT, "Connection timed out"},
    {SOCKET_SOURCE_ERRNO, ECONNREFUSED, SOCKET_ERROR_CONNECTION_REFUSED, "Connection refused"},
    {SOCKET_SOURCE_ERRNO, EHOSTDOWN, 10064, "Host is down"},
    {SOCKET_SOURCE_ERRNO, EHOSTUNREACH, SOCKET_ERROR_HOST_UNREACHABLE, "No route to host"},
    {SOCKET_SOURCE_NETDB, HOST_NOT_FOUND, SOCKET_ERROR_HOST_NOT_FOUND, "Host not found"},
    {SOCKET_SOURCE_NETDB, TRY_AGAIN, SOCKET_ERROR_TRY_AGAIN,
     "Host not found, or server failure; try again"},
    {SOCKET_SOURCE_NETDB, NO_RECOVERY, SOCKET_ERROR_NO_RECOVERY,
     "A non-recoverable error occurred during name lookup"},
    {SOCKET_SOURCE_NETDB, NO_DATA, SOCKET_ERROR_NO_DATA,
     "The name is valid but has no data record of the requested type"},
    {SOCKET_SOURCE_ADDRINFO, EAI_NONAME, SOCKET_ERROR_HOST_NOT_FOUND, "Host not found"},
    {SOCKET_SOURCE_ADDRINFO, EAI_AGAIN, SOCKET_ERROR_TRY_AGAIN,
     "Host not found, or server failure; try again"},
    {SOCKET_SOURCE_ADDRINFO, EAI_FAIL, SOCKET_ERROR_NO_RECOVERY,
     "A non-recoverable error occurred during name lookup"},
    {SOCKET_SOURCE_ADDRINFO, EAI_NODATA, SOCKET_ERROR_NO_DATA,
     "The name is valid but has no data record of the requested type"},
    {SOCKET_SOURCE_ADDRINFO, EAI_ADDRFAMILY, SOCKET_ERROR_NO_DATA,
     "The name is valid but has no data record of the requested type"},
    {SOCKET_SOURCE_ADDRINFO, EAI_SERVICE, SOCKET_ERROR_TYPE_NOT_FOUND, "Service not found"},
    {SOCKET_SOURCE_ADDRINFO, EAI_FAMILY, 10047, "Address family not supported by protocol family"},
    {SOCKET_SOURCE_ADDRINFO, EAI_SOCKTYPE, 10044, "Socket type not supported"},
    {SOCKET_SOURCE_ADDRINFO, EAI_MEMORY, 10055, "No buffer space available"},
};

// Texts of numbers that no system code maps to but the engine sets itself.
constexpr struct {
    int number;
    const char* text;
} kOwnTexts[] = {
    {SOCKET_ERROR_VERSION_NOT_SUPPORTED, "Socket version not supported"},
};

class socket_category_t final : public boost::system::error_category {
public:
    const char* name() const noexcept override { return "socket"; }

    std::string message(int number) const override {
        for (const auto& row : kSocketErrors) {
            if (row.number == number) {
                return row.text;
            }
        }
        for (const auto& own : kOwnTexts) {
            if (own.number == number) {
                return own.text;
            }
        }
        if (number == 0) {
            return "Success";
        }
        return "Unknown socket error " + std::to_string(number);
    }
};

std::atomic<int> g_last_socket_error{0};

}  // namespace

int socket_error_number(socket_error_source_enum source, int code) {
    for (const auto& row : kSocketErrors) {
        if (row.source == source && row.code == code) {
            return row.number;
        }
    }
    return code;
}

const boost::system::error_category& socket_category() {
    static const socket_category_t category;
    return category;
}

boost::system::error_code make_socket_error(int number) {
    return boost::system::error_code(number, socket_category());
}

bool socket_startup(socket_version_t& obtained) {
    // Nothing to start on this platform; sockets are always there.
    obtained.major = 2;
    obtained.minor = 2;
    return true;
}

void socket_cleanup() {}

void set_last_socket_error(int number) { g_last_socket_error.store(number); }

int last_socket_error() { return g_last_socket_error.load(); }

}  // namespace Core_Platform
