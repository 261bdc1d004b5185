#include "settings/fake/MemorySettingsStorage.h"
#include "shell/StatusItemController.h"

#include <QMenu>
#include <gtest/gtest.h>

namespace brindell {
namespace {

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(StatusItem, RemembersWhetherTheIconIsShown) {
    auto storage = std::make_shared<MemorySettingsStorage>(R"({"version":1,"visible":false})");
    {
        StatusItemController hidden(std::nullopt, storage);
        EXPECT_FALSE(hidden.isVisible());
        EXPECT_FALSE(hidden.anchorRect()) << "a hidden icon is no anchor";
        hidden.setVisible(true);
        EXPECT_TRUE(hidden.isVisible());
    }
    EXPECT_EQ(storage->text(), R"({"version":1,"visible":true})");
    StatusItemController next(std::nullopt, storage);
    EXPECT_TRUE(next.isVisible());
}

TEST(StatusItem, AMissingOrUnreadableRecordShowsTheIcon) {
    for (const char* stored : {"", "not json", R"({"version":2,"visible":false})",
                               R"({"version":1,"visible":"no"})", R"([false])"}) {
        auto storage = std::make_shared<MemorySettingsStorage>(stored);
        StatusItemController status(std::nullopt, storage);
        EXPECT_TRUE(status.isVisible()) << stored;
    }
    StatusItemController unsaved(std::nullopt, std::make_shared<MemorySettingsStorage>());
    EXPECT_TRUE(unsaved.isVisible());
}

TEST(StatusItem, VisibilityRecordRoundTrips) {
    EXPECT_EQ(decodeIconVisibility(encodeIconVisibility(false)), false);
    EXPECT_EQ(decodeIconVisibility(encodeIconVisibility(true)), true);
    EXPECT_EQ(decodeIconVisibility(bytes(R"({"version":1.5,"visible":true})")), std::nullopt);
    EXPECT_EQ(decodeIconVisibility(bytes(R"({"visible":true})")), std::nullopt);
    EXPECT_EQ(decodeIconVisibility({}), std::nullopt);
}

TEST(StatusItem, TheTooltipNamesASpecialBuild) {
    StatusItemController plain;
    EXPECT_EQ(plain.trayIcon().toolTip(), "Brindell");
    StatusItemController nightly(QStringLiteral("NIGHTLY"));
    EXPECT_EQ(nightly.trayIcon().toolTip(), "Brindell (nightly)");
}

TEST(StatusItem, WithoutAnUpdateCheckTheMenuHasFourEntries) {
    StatusItemController status;
    ASSERT_EQ(status.menu()->actions().size(), 4);
    EXPECT_TRUE(status.menu()->actions().at(2)->isSeparator());
    EXPECT_EQ(status.menu()->actions().at(0)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(status.menu()->actions().at(3)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    status.setOnCheckForUpdates([] {});
    EXPECT_EQ(status.menu()->actions().size(), 5);
    status.setOnCheckForUpdates(nullptr);
    EXPECT_EQ(status.menu()->actions().size(), 4);
}

} // namespace
} // namespace brindell
