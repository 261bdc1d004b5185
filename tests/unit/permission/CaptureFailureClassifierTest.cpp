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
    // No status is known to mean protected audio: every refusal is a plain one.
    EXPECT_TRUE(classifier.confirmedProtectedStatuses().empty());
}

} // namespace
} // namespace brindell
