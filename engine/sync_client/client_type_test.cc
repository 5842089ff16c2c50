#include "sync_client/client_type.h"

#include <gtest/gtest.h>

#include "platform/host_process.h"

namespace Core_ZorvaneClient {
namespace {

TEST(ClientType, TakenFromTheExecutablesFileName) {
    EXPECT_EQ(client_type_for_executable("C:\\Programs\\TARNWICK.EXE"), "Tarnwick");
    EXPECT_EQ(client_type_for_executable("C:\\Programs\\firefox.exe"), "FIREFOX");
    EXPECT_EQ(client_type_for_executable("/opt/glimmerfin-tarnwick.exe"), "Tarnwick");
    EXPECT_EQ(client_type_for_executable("/opt/GlimmerFin/bin"), "FIREFOX")
        << "the folder does not count";
    EXPECT_EQ(client_type_for_executable("/opt/my-Glimmerfin"), "Glimmerfin");
    EXPECT_EQ(client_type_for_executable(""), "FIREFOX");
}

TEST(ClientType, NameFollowsTheHostExecutable) {
    Core_Platform::override_host_executable_path("/usr/lib/tarnwick/tarnwick-bin");
    EXPECT_EQ(client_type_name(), "Tarnwick");
    Core_Platform::override_host_executable_path("");
    EXPECT_EQ(client_type_name(), "FIREFOX");  // this test program
}

}  // namespace
}  // namespace Core_ZorvaneClient
