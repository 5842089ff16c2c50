#include "platform/standard_streams.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace Core_Platform {
namespace {

// Everything written arrives, across many pipe-fulls; a reader that has
// gone is an error the writer sees, not the end of the process.
TEST(StandardStreams, WriteAllDeliversEverythingAndReportsAGoneReader) {
    ignore_broken_pipes();
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::string sent(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 131 % 251);
    std::string got;
    std::thread reader([&] {
        char buffer[8192];
        for (;;) {
            const ssize_t n = read(p[0], buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
    });
    EXPECT_TRUE(write_all(p[1], sent));
    close(p[1]);
    reader.join();
    EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " bytes";

    ASSERT_EQ(pipe(p), 0);
    close(p[0]);
    errno = 0;
    EXPECT_FALSE(write_all(p[1], "frame"));
    EXPECT_EQ(errno, EPIPE);
    close(p[1]);
}

}  // namespace
}  // namespace Core_Platform
