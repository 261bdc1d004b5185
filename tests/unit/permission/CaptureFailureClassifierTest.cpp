#include "permission/CaptureFailureClassifier.h"

#include <gtest/gtest.h>

namespace brindell {
namespace {

TEST(CaptureFailureClassifierTest, MapsEachKindOfFailureToWhatTheRowSays) {
    CaptureFailureClassifier classifier;
    EXPECT_EQ(classifier.classify(std::nullopt, "muting rebuild failed: noSuchObject"),
              MixerRowStatus::captureFailed("muting rebuild failed: noSuchObject"));
    EXPECT_EQ(classifier.classify(AudioHardwareError::noSuchObject(), "ignored"),
              MixerRowStatus::captureFailed(
                  "This app stopped playing audio before Brindell could connect."));
    EXPECT_EQ(classifier.classify(AudioHardwareError::status("CreateProcessTap", -50), "ignored"),
              MixerRowStatus::captureFailed(
                  "The audio system refused the CreateProcessTap step (error -50)."));
}

TEST(CaptureFailureClassifierTest, OnlyConfirmedProtectedStatusesMeanProtectedAudio) {
    CaptureFailureClassifier classifier;
    EXPECT_TRUE(classifier.confirmedProtectedStatuses().empty());
    const auto error = AudioHardwareError::status("CreateProcessTap", 1852797029);
    EXPECT_EQ(classifier.classify(error, "").kind(), MixerRowStatus::Kind::captureFailed);

    classifier.addProtectedStatus(1852797029);
    EXPECT_EQ(classifier.classify(error, ""), MixerRowStatus::drmRestricted());
    // The code decides, whichever step failed; other codes are still plain refusals.
    EXPECT_EQ(classifier.classify(AudioHardwareError::status("AudioDeviceStart", 1852797029), ""),
              MixerRowStatus::drmRestricted());
    EXPECT_EQ(classifier.classify(AudioHardwareError::status("AudioDeviceStart", -5), "").kind(),
              MixerRowStatus::Kind::captureFailed);
}

} // namespace
} // namespace brindell
