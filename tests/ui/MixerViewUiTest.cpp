#include "UiTestSupport.h"
#include "mixer/PreviewContent.h"
#include "shell/MasterSection.h"
#include "shell/MixerView.h"
#include "shell/PanelWidgets.h"
#include "shell/SourceRowView.h"

#include <QAccessible>
#include <QGraphicsOpacityEffect>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace brindell {
namespace {

using testing::PreviewMixer;
using testing::settle;

QString accessibleText(QWidget* widget, QAccessible::Text text) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(text) : QString();
}

TEST(MixerView, TheListGrowsWithItsRowsUpTo360ThenScrollsAndANoteStandsInForNone) {
    PreviewMixer mixer;
    const int four = mixer.view->listHeight();
    EXPECT_GT(four, 0);
    EXPECT_LT(four, MixerView::maxListHeight);
    EXPECT_EQ(mixer.view->list()->height(), four);

    // Rows totalling well over 360: the list stays 360 and scrolls.
    mixer.engine->publish(previewSnapshot(PreviewState::canned, 8));
    settle();
    EXPECT_GT(mixer.view->listHeight(), 500);
    EXPECT_EQ(mixer.view->list()->height(), MixerView::maxListHeight);
    EXPECT_GT(mixer.view->list()->verticalScrollBar()->maximum(), 0);

    // And shrinks back when apps go; with none a note at least 80 high takes its place.
    mixer.engine->publish(PreviewMixerEngine::cannedSnapshot());
    settle();
    EXPECT_EQ(mixer.view->listHeight(), four);
    EXPECT_EQ(mixer.view->list()->height(), four);
    mixer.engine->publish(previewSnapshot(PreviewState::empty, 0));
    settle();
    EXPECT_TRUE(mixer.view->emptyNote()->isVisible());
    EXPECT_GE(mixer.view->emptyNote()->height(), 80);
    EXPECT_FALSE(mixer.view->list()->isVisible());
}

TEST(MixerView, RowsFollowTheModelsOrderReuseTheirWidgetsAndShowTheCursorFadingAndMute) {
    PreviewMixer mixer;
    SourceRowView* game = mixer.view->rowView(4);
    ASSERT_NE(game, nullptr);
    MixerSnapshot s = mixer.engine->current();
    std::reverse(s.rows.begin(), s.rows.end());
    mixer.engine->publish(s);
    settle();
    std::vector<pid_type> order;
    for (auto* row : mixer.view->rowViews()) {
        order.push_back(row->pid());
    }
    EXPECT_EQ(order, (std::vector<pid_type>{4, 3, 2, 1}));
    EXPECT_EQ(mixer.view->rowView(4), game);

    // The keyboard cursor marks the chosen row, and no row once the master section is chosen.
    mixer.model->keyboardTarget.set(KeyboardTarget::row(2));
    EXPECT_TRUE(mixer.view->rowView(2)->keyboardCursor());
    EXPECT_FALSE(mixer.view->rowView(1)->keyboardCursor());
    mixer.model->keyboardTarget.set(KeyboardTarget::master());
    EXPECT_FALSE(mixer.view->rowView(2)->keyboardCursor());

    // Browser Helper is inactive and muted; Music plays.
    SourceRowView* helper = mixer.view->rowView(3);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(helper->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.55);
    EXPECT_EQ(accessibleText(helper, QAccessible::Name), "Browser Helper, not playing now");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(helper)->role(), QAccessible::Grouping);
    SourceRowView* music = mixer.view->rowView(1);
    EXPECT_EQ(music->graphicsEffect(), nullptr) << "a playing row is drawn directly";
    EXPECT_EQ(accessibleText(music, QAccessible::Name), "Music");

    EXPECT_EQ(helper->muteButton()->symbol(), "speaker.slash.fill");
    EXPECT_EQ(accessibleText(helper->muteButton(), QAccessible::Name), "Unmute Browser Helper");
    EXPECT_DOUBLE_EQ(helper->slider()->opacity(), 0.45);
    QTest::mouseClick(helper->muteButton(), Qt::LeftButton);
    EXPECT_FALSE(mixer.engine->current().rows[2].isMuted);
    EXPECT_EQ(helper->muteButton()->symbol(), "speaker.wave.2.fill");
    EXPECT_EQ(helper->muteButton()->toolTip(), "Mute Browser Helper");
    EXPECT_DOUBLE_EQ(helper->slider()->opacity(), 1.0);
}

TEST(MixerView, TheResetEntryNeedsABundleIdentifierAndStatusLinesFollowThePresentation) {
    MixerSnapshot s = PreviewMixerEngine::cannedSnapshot();
    s.rows[1].bundleID.reset();
    s.rows[0].status = MixerRowStatus::starting();
    s.rows[2].status = MixerRowStatus::starting(); // not playing: says nothing
    PreviewMixer mixer(s);
    SymbolTextLabel* waiting = mixer.view->rowView(4)->statusLine();
    EXPECT_TRUE(waiting->isVisible());
    EXPECT_EQ(waiting->tint(), Tint::warning);
    EXPECT_EQ(mixer.view->rowView(1)->statusLine()->tint(), Tint::secondary);
    EXPECT_FALSE(mixer.view->rowView(3)->statusLine()->isVisible());

    auto menu = mixer.view->rowView(2)->makeContextMenu();
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().front()->text(), "Reset Video Call");
    EXPECT_FALSE(menu->actions().front()->isEnabled());
    auto music = mixer.view->rowView(1)->makeContextMenu();
    ASSERT_TRUE(music->actions().front()->isEnabled());
    music->actions().front()->trigger();
    settle();
    EXPECT_EQ(mixer.view->rowView(1), nullptr) << "forgetting removes the row (preview engine)";
}

TEST(MixerView, OutputMenusNameTheCurrentOutput) {
    PreviewMixer mixer;
    EXPECT_EQ(mixer.view->rowView(1)->outputMenu()->text(), "System Default");
    EXPECT_EQ(mixer.view->rowView(2)->outputMenu()->text(), "Headphones");
    MenuButton* game = mixer.view->rowView(4)->outputMenu();
    EXPECT_EQ(game->text(), "Output not connected");
    EXPECT_EQ(accessibleText(game, QAccessible::Name), "Output for Game");
    EXPECT_EQ(accessibleText(game, QAccessible::Value), "Output not connected");

    // Entries: the default (with its name), a divider, then every output.
    game->openMenu();
    auto* menu = game->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* action : menu->actions()) {
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(entries, (QStringList{"System Default (Built-in Speakers)", "-", "Built-in Speakers",
                                    "Headphones", "Monitor"}));
    menu->actions().at(4)->trigger();
    menu->close();
    settle();
    EXPECT_EQ(mixer.engine->current().rows[3].outputUID, "hdmi");
    EXPECT_EQ(game->text(), "Monitor");
}

TEST(MixerView, TheBannerSitsBetweenTheOutputAndTheList) {
    int soundSettingsOpened = 0;
    MixerViewOptions options;
    options.openSoundSettings = [&] { ++soundSettingsOpened; };
    PreviewMixer mixer(PreviewMixerEngine::cannedSnapshot(), options);
    EXPECT_FALSE(mixer.view->banner()->isVisible());
    const int before = mixer.view->preferredHeight();

    mixer.engine->publish(previewSnapshot(PreviewState::denied, 0));
    settle();
    PermissionBannerView* banner = mixer.view->banner();
    ASSERT_TRUE(banner->isVisible());
    EXPECT_FALSE(accessibleText(banner, QAccessible::Name).isEmpty());
    EXPECT_EQ(banner->stepTexts().size(), 3);
    mixer.view->resize(MixerView::panelWidth, mixer.view->preferredHeight());
    settle();
    EXPECT_GT(mixer.view->preferredHeight(), before);
    EXPECT_GE(banner->y(), mixer.view->masterSection()->geometry().bottom());
    EXPECT_LE(banner->geometry().bottom(), mixer.view->list()->y());

    // "Check again" asks the engine to judge afresh.
    auto buttons = banner->findChildren<PanelButton*>();
    ASSERT_EQ(buttons.size(), 2);
    QTest::mouseClick(buttons[0], Qt::LeftButton);
    EXPECT_EQ(soundSettingsOpened, 1);
    QTest::mouseClick(buttons[1], Qt::LeftButton);
    settle();
    EXPECT_EQ(mixer.engine->current().permission, PermissionState::unknown);
    EXPECT_FALSE(banner->isVisible());
}

TEST(MixerView, TheOutputSectionShowsOnlyTheControlsTheDeviceHasOrThatNoServerIsReached) {
    PreviewMixer mixer;
    MasterSection* master = mixer.view->masterSection();
    EXPECT_EQ(master->deviceMenu()->text(), "Built-in Speakers");
    EXPECT_TRUE(master->muteButton()->isVisible());
    EXPECT_EQ(accessibleText(master->muteButton(), QAccessible::Name), "Mute output");
    EXPECT_TRUE(master->volumeLine()->isVisible());
    EXPECT_FALSE(master->noVolumeNote()->isVisible());

    QTest::mouseClick(master->muteButton(), Qt::LeftButton);
    EXPECT_EQ(accessibleText(master->muteButton(), QAccessible::Name), "Unmute output");
    EXPECT_DOUBLE_EQ(master->volumeLineOpacity(), 0.5);

    mixer.engine->publish(previewSnapshot(PreviewState::fixedVolume, 0));
    settle();
    EXPECT_EQ(master->deviceMenu()->text(), "Monitor");
    EXPECT_FALSE(master->muteButton()->isVisible());
    EXPECT_FALSE(master->volumeLine()->isVisible());
    EXPECT_TRUE(master->noVolumeNote()->isVisible());

    mixer.engine->publish(previewSnapshot(PreviewState::noOutput, 0));
    settle();
    EXPECT_EQ(master->deviceMenu()->text(), "No output");

    // Without the audio server the panel says so until it is back; the last rows known are out
    // of date.
    MixerSnapshot gone;
    gone.serverReachable = false;
    gone.rows = PreviewMixerEngine::cannedSnapshot().rows;
    mixer.engine->publish(gone);
    settle();
    EXPECT_TRUE(mixer.view->emptyNote()->isVisible());
    EXPECT_TRUE(mixer.view->emptyNote()->text().startsWith(
        "Brindell can't reach the audio server. It keeps trying"));
    EXPECT_FALSE(mixer.view->list()->isVisible());
    EXPECT_EQ(master->deviceMenu()->text(), "No audio server");
    EXPECT_FALSE(master->noVolumeNote()->isVisible());
    mixer.engine->publish(PreviewMixerEngine::cannedSnapshot());
    settle();
    EXPECT_FALSE(mixer.view->emptyNote()->isVisible());
    EXPECT_TRUE(mixer.view->list()->isVisible());
    EXPECT_EQ(master->deviceMenu()->text(), "Built-in Speakers");
}

TEST(MixerView, TheFooterHintsAtTheKeysReachesSettingsAndCarriesABadge) {
    int settingsOpened = 0;
    MixerViewOptions options;
    options.openSettings = [&] { ++settingsOpened; };
    options.badge = PanelBadge{"BETA", "Beta build"};
    PreviewMixer mixer(PreviewMixerEngine::cannedSnapshot(), options);
    EXPECT_TRUE(mixer.view->hint()->isVisible());
    // A special build shows its badge below the footer.
    QLabel* badge = nullptr;
    for (auto* label : mixer.view->findChildren<QLabel*>()) {
        badge = label->text() == "BETA" ? label : badge;
    }
    ASSERT_NE(badge, nullptr);
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(accessibleText(badge, QAccessible::Name), "Beta build");
    EXPECT_GE(badge->y(), mixer.view->footer()->geometry().bottom());
    auto* gear = mixer.view->footer()->findChild<SymbolButton*>();
    ASSERT_NE(gear, nullptr);
    EXPECT_EQ(accessibleText(gear, QAccessible::Name), "Brindell Settings");
    QTest::mouseClick(gear, Qt::LeftButton);
    EXPECT_EQ(settingsOpened, 1);

    auto* reset = mixer.view->footer()->findChild<LinkButton*>();
    ASSERT_NE(reset, nullptr);
    QTest::mouseClick(reset, Qt::LeftButton);
    settle();
    EXPECT_TRUE(mixer.view->rowViews().empty());
    EXPECT_TRUE(mixer.view->emptyNote()->isVisible());
}

// The colour of the panel's fill in the middle of the footer, as drawn.
QColor footerFill(MixerView& view) {
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const QRect footer = view.footer()->geometry();
    return image.pixelColor(footer.center().x() - 60, footer.bottom() - 2);
}

TEST(MixerView, ReducedTransparencyDrawsAnOpaqueBackgroundAndDarkADarkOne) {
    MixerViewOptions opaque;
    opaque.forceReducedTransparency = true;
    PreviewMixer forced(PreviewMixerEngine::cannedSnapshot(), opaque);
    EXPECT_TRUE(forced.view->opaqueBackground());
    EXPECT_EQ(footerFill(*forced.view).alpha(), 255);

    PreviewMixer normal;
    EXPECT_FALSE(normal.view->opaqueBackground());
    EXPECT_LT(footerFill(*normal.view).alpha(), 255);

    // The desktop's own setting does the same.
    Appearance desktop;
    desktop.reduceTransparency = true;
    normal.view->setAppearance(desktop);
    EXPECT_EQ(footerFill(*normal.view).alpha(), 255);
    desktop.dark = true;
    normal.view->setAppearance(desktop);
    EXPECT_TRUE(PanelTheme::isDark(normal.view->theme().palette()));
    EXPECT_LT(footerFill(*normal.view).lightnessF(), 0.3f);
}

// The colour on the middle line of a row's slider track at a fraction of its scale, as drawn.
QColor trackColor(VolumeSlider& slider, double at) {
    QImage image(slider.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    slider.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    const int knob = slider.height() - 4; // the knob's diameter; the track ends half of it in
    const int x = static_cast<int>(std::lround(knob / 2.0 + at * (slider.width() - knob)));
    return image.pixelColor(x, slider.height() / 2);
}

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
           std::abs(a.blue() - b.blue()) <= 2;
}

// Music (volume 0.8) plays at 0.4: its track shows the lighter band up to 0.4 and the accent
// beyond it up to the knob, and nothing of it reaches screen readers. Which rows get a level
// is the view model's.
TEST(MixerView, TheLevelIsABandInsideTheTrackOnlyForAudibleRowsWhileShown) {
    for (const bool dark : {false, true}) {
        Appearance look;
        look.dark = dark;
        PreviewMixer mixer(PreviewMixerEngine::cannedSnapshot(), {}, look);
        VolumeSlider& slider = *mixer.view->rowView(1)->slider();
        EXPECT_NEAR(slider.level(), 0.4f, 1e-4);
        const QColor band = slider.levelColor();
        const QColor accent = mixer.view->theme().accent();
        EXPECT_FALSE(near(band, accent)) << "the band stands out from the fill";
        EXPECT_TRUE(near(trackColor(slider, 0.2), band));
        EXPECT_TRUE(near(trackColor(slider, 0.6), accent));
        EXPECT_EQ(accessibleText(&slider, QAccessible::Name), "Music volume");
        EXPECT_EQ(accessibleText(&slider, QAccessible::Value), "80 percent");
        mixer.engineChangesRow(1, [](MixerRow& row) { row.status = MixerRowStatus::starting(); });
        settle();
        EXPECT_EQ(slider.level(), 0.0f) << "no longer adjusted";
        EXPECT_TRUE(near(trackColor(slider, 0.2), accent));
        mixer.view->hide();
        EXPECT_FALSE(mixer.model->levelsWanted()) << "a hidden view asks for none";
    }
}

TEST(PanelSymbols, EverySymbolIsDrawnEvenWithoutAnIconTheme) {
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({});
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    for (const char* symbol :
         {"speaker.wave.2.fill", "speaker.wave.3.fill", "speaker.fill", "speaker.slash.fill",
          "speaker.badge.exclamationmark", "exclamationmark.triangle.fill", "ellipsis.circle",
          "shield.lefthalf.filled", "lock.slash", "lock", "app.dashed", "gearshape", "hifispeaker",
          "mic.slash", "music.note", "arrow.right", "slider.horizontal.3", "MenuBarIcon"}) {
        const QPixmap pixmap = symbolPixmap(symbol, 16, Qt::red, 2.0);
        ASSERT_FALSE(pixmap.isNull()) << symbol;
        // Something is drawn, in the colour asked for.
        const QImage image = pixmap.toImage();
        bool inked = false;
        for (int y = 0; y < image.height() && !inked; ++y) {
            for (int x = 0; x < image.width() && !inked; ++x) {
                const QColor c = image.pixelColor(x, y);
                inked = c.alpha() > 128 && c.red() > 200 && c.green() < 50;
            }
        }
        EXPECT_TRUE(inked) << symbol;
    }
    EXPECT_TRUE(symbolPixmap("no.such.symbol", 16, Qt::red, 1.0).isNull());
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
}

} // namespace
} // namespace brindell
