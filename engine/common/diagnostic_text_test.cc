#include "common/diagnostic_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/fatal_error.h"

namespace Core_Common {
namespace {

TEST(DiagnosticText, SettersCopyAtMost1024CharactersAndTerminate) {
    set_debug_info_text(u"empty timer func:x");
    EXPECT_EQ(debug_info_text(), u"empty timer func:x");
    EXPECT_EQ(std::u16string(debug_info_text_buffer()), u"empty timer func:x");

    const std::u16string long_text(1500, u'a');
    set_crash_info_text(long_text);
    EXPECT_EQ(crash_info_text(), std::u16string(1024, u'a'));
    EXPECT_EQ(crash_info_text_buffer()[1024], u'\0');

    set_crash_info_text(u"Not enough memory.");
    EXPECT_EQ(std::u16string(crash_info_text_buffer()), u"Not enough memory.");
    set_crash_info_text(u"");
    set_debug_info_text(u"");
    EXPECT_TRUE(crash_info_text().empty());
    EXPECT_TRUE(debug_info_text().empty());
}

TEST(FatalError, ThrowsARuntimeErrorSayingCrash) {
    try {
        fatal_error();
        FAIL() << "fatal_error returned";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "crash");
    }
}

}  // namespace
}  // namespace Core_Common
