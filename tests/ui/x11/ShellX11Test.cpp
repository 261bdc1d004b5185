// The shell's windows as an X11 window manager and tray see them, on a private Xvfb.
#include "UiTestSupport.h"
#include "XvfbServer.h"
#include "shell/PanelController.h"
#include "shell/StatusItemController.h"

#include <QApplication>
#include <QtGui/qguiapplication_platform.h>
#include <array>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <xcb/xcb.h>

namespace brindell {
namespace {

using testing::PreviewMixer;
using testing::settle;
using testing::waitFor;

xcb_connection_t* connection() {
    return qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection(),
        xcb_intern_atom(connection(), 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t found =
        reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

std::vector<xcb_atom_t> windowStates(WId window) {
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(connection(),
                               xcb_get_property(connection(), 0, static_cast<xcb_window_t>(window),
                                                atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 64),
                               nullptr);
    std::vector<xcb_atom_t> states;
    if (reply != nullptr && reply->format == 32) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        states.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return states;
}

bool has(const std::vector<xcb_atom_t>& states, const char* name) {
    return std::find(states.begin(), states.end(), atom(name)) != states.end();
}

TEST(PanelWindow, OpensUnderTheClickAndStaysOutOfTheTaskbarAndPagerEveryTimeItShows) {
    PreviewMixer mixer;
    MixerView* view = mixer.view.release();
    PanelController panel(view, mixer.mainQueue);
    for (int showing = 0; showing < 2; ++showing) {
        panel.show(std::nullopt, QPoint(700, 10)); // clicked in a tray along the top
        settle();
        const QRect frame = panel.panel()->geometry();
        EXPECT_EQ(frame.x() + frame.width() / 2, 700);
        EXPECT_GT(frame.top(), 10);
        EXPECT_LT(frame.top(), 30);
        const auto states = windowStates(panel.panel()->winId());
        EXPECT_TRUE(has(states, "_NET_WM_STATE_SKIP_TASKBAR")) << "showing " << showing;
        EXPECT_TRUE(has(states, "_NET_WM_STATE_SKIP_PAGER")) << "showing " << showing;
        EXPECT_TRUE(has(states, "_NET_WM_STATE_ABOVE")) << "Qt's own state is kept";
        panel.hide();
        // A window manager drops the state of a withdrawn window.
        xcb_delete_property(connection(), static_cast<xcb_window_t>(panel.panel()->winId()),
                            atom("_NET_WM_STATE"));
        xcb_flush(connection());
    }
}

// A tray manager as na-tray based trays (Xfce's, MATE's) run it: the selection's owner names
// the icons' colours.
struct FakeTrayManager {
    explicit FakeTrayManager(std::array<std::uint32_t, 12> colors) {
        window = xcb_generate_id(connection());
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection())).data;
        xcb_create_window(connection(), XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(connection(), XCB_PROP_MODE_REPLACE, window,
                            atom("_NET_SYSTEM_TRAY_COLORS"), XCB_ATOM_CARDINAL, 32, 12,
                            colors.data());
        xcb_set_selection_owner(connection(), window, atom("_NET_SYSTEM_TRAY_S0"),
                                XCB_CURRENT_TIME);
        xcb_flush(connection());
    }
    ~FakeTrayManager() {
        xcb_destroy_window(connection(), window);
        xcb_flush(connection());
    }
    xcb_window_t window = 0;
};

TEST(TrayIconColour, FollowsTheColoursTheTrayNames) {
    EXPECT_FALSE(x11TrayForeground()) << "no tray yet";
    {
        // A light foreground, as a tray on a dark panel asks for; the other three unused.
        FakeTrayManager tray(
            {0xeeee, 0xeeee, 0xeeee, 0xffff, 0, 0, 0xffff, 0xffff, 0, 0, 0xffff, 0});
        const auto foreground = x11TrayForeground();
        ASSERT_TRUE(foreground);
        EXPECT_EQ(foreground->rgb(), QColor(0xee, 0xee, 0xee).rgb());
    }
    settle();
    EXPECT_FALSE(x11TrayForeground()) << "the tray left";
}

// A plain window of one colour: a tray's bar, an icon.
std::unique_ptr<QWidget> patch(const QColor& color, const QRect& where) {
    auto widget = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::FramelessWindowHint);
    QPalette palette;
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    widget->setGeometry(where);
    widget->show();
    return widget;
}

TEST(TrayIconColour, ReadsTheTraysBackgroundAroundTheIcon) {
    const QRect icon(1100, 4, 22, 22);
    for (const QColor& color : {QColor(0x20, 0x20, 0x20), QColor(0xf0, 0xf0, 0xf0)}) {
        const auto tray = patch(color, QRect(1000, 0, 280, 30)); // across the top right
        // An icon beside ours in the ring does not sway the reading.
        const auto neighbour =
            patch(QColor(0xff, 0x00, 0x80), QRect(icon.right() + 2, icon.top(), 22, 22));
        ASSERT_TRUE(waitFor([&] {
            const auto read = trayBackgroundAround(icon);
            return read && read->rgb() == color.rgb();
        })) << color.name().toStdString(); // what the icon makes of it is StatusItem's
    }
}

} // namespace
} // namespace brindell

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    brindell::test::XvfbServer server("1280x800x24");
    if (server.display().empty()) {
        std::fprintf(stderr, "Xvfb did not start: %s\n", server.error().c_str());
        return 1;
    }
    qputenv("DISPLAY", QByteArray::fromStdString(server.display()));
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        status = RUN_ALL_TESTS();
    }
    return status;
}
