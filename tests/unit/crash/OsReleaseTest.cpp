#include "crash/OsRelease.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(OsRelease, ReadsVersionIdUnquoted) {
    EXPECT_EQ(osReleaseVersionId("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
                                 "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nVERSION=\"12\"\n"),
              "12");
    EXPECT_EQ(osReleaseVersionId("NAME=Fedora\r\nVERSION_ID=40\r\n"), "40");
    EXPECT_EQ(osReleaseVersionId("VERSION_ID='22.04'"), "22.04");
    EXPECT_EQ(osReleaseVersionId("VERSION_ID=1\nVERSION_ID=2\n"), "2");
    // Rolling releases have none; look-alike keys do not count.
    EXPECT_EQ(osReleaseVersionId("NAME=\"Arch Linux\"\nBUILD_ID=rolling\n"), std::nullopt);
    EXPECT_EQ(osReleaseVersionId("VERSION_ID=\"\"\nX_VERSION_ID=3\n # VERSION_ID=4\n"),
              std::nullopt);
    EXPECT_EQ(osReleaseVersionId(""), std::nullopt);
}

} // namespace
} // namespace brindell
