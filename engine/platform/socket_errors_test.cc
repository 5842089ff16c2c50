#include "platform/socket_errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace Core_Platform {
namespace {

TEST(SocketErrors, SystemCodesBecomeWindowsSocketsNumbers) {
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, ETIMEDOUT), 10060);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, ECONNABORTED), 10053);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, ECONNRESET), 10054);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, ECONNREFUSED), 10061);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, EHOSTUNREACH), 10065);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, ECANCELED), 995);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_NETDB, HOST_NOT_FOUND), 11001);
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ADDRINFO, EAI_NONAME), 11001);
    // The same value means different things in different sources.
    EXPECT_NE(socket_error_number(SOCKET_SOURCE_NETDB, 1),
              socket_error_number(SOCKET_SOURCE_ERRNO, 1));
}

TEST(SocketErrors, UnknownCodesKeepTheirValue) {
    EXPECT_EQ(socket_error_number(SOCKET_SOURCE_ERRNO, 4242), 4242);
}

TEST(SocketErrors, CategoryNamesTheNumbers) {
    boost::system::error_code ec = make_socket_error(10061);
    EXPECT_EQ(ec.value(), 10061);
    EXPECT_STREQ(ec.category().name(), "socket");
    EXPECT_EQ(ec.message(), "Connection refused");
    EXPECT_EQ(make_socket_error(10060).message(), "Connection timed out");
    EXPECT_EQ(make_socket_error(11001).message(), "Host not found");
    EXPECT_EQ(make_socket_error(10092).message(), "Socket version not supported");
    EXPECT_EQ(make_socket_error(77777).message(), "Unknown socket error 77777");
}

TEST(SocketErrors, StartUpObtainsVersionTwoTwo) {
    socket_version_t obtained;
    ASSERT_TRUE(socket_startup(obtained));
    EXPECT_EQ(obtained.major, 2);
    EXPECT_EQ(obtained.minor, 2);
    socket_cleanup();
}

}  // namespace
}  // namespace Core_Platform
