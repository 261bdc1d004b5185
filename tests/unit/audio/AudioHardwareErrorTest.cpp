#include "audio/AudioHardwareError.h"

#include "audio/AudioRecords.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(AudioHardwareError, TextFormNamesCaseOperationAndSignedCode) {
    EXPECT_EQ(AudioHardwareError::status("CreateProcessTap", -50).text(),
              "status(\"CreateProcessTap\", -50)");
    EXPECT_EQ(AudioHardwareError::status("list", 1852797029).text(),
              "status(\"list\", 1852797029)");
    EXPECT_EQ(AudioHardwareError::noSuchObject().text(), "noSuchObject");
    EXPECT_STREQ(AudioHardwareError::noSuchObject().what(), "noSuchObject");
}

TEST(AudioHardwareError, EqualityComparesCaseAndPayload) {
    EXPECT_EQ(AudioHardwareError::status("list", -2), AudioHardwareError::status("list", -2));
    EXPECT_NE(AudioHardwareError::status("list", -2), AudioHardwareError::status("list", -3));
    EXPECT_NE(AudioHardwareError::status("list", -2), AudioHardwareError::status("list size", -2));
    EXPECT_NE(AudioHardwareError::status("", 0), AudioHardwareError::noSuchObject());
}

TEST(AudioRecords, TransportNamesReadAsTheCases) {
    EXPECT_STREQ(toString(DeviceTransport::virtual_), "virtual");
    EXPECT_STREQ(toString(DeviceTransport::displayPort), "displayPort");
    EXPECT_STREQ(toString(DeviceTransport::other), "other");
}

} // namespace
} // namespace brindell
