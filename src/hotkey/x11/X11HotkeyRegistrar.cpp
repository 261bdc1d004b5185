#include "hotkey/x11/X11HotkeyRegistrar.h"

#include "hotkey/HotkeyError.h"
#include "hotkey/KeySymbols.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/keysym.h>
#include <array>
#include <vector>

namespace brindell {

namespace {

// Collects the X errors of one display while a batch of requests is checked with XSync. Xlib's
// default handler would end the process on the first BadAccess, so requests of ours only ever
// run inside such a trap. The handler is process-wide: errors of other connections go on to the
// handler that was installed before.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display) {
        outer_ = active_;
        active_ = this;
        previous_ = XSetErrorHandler(&ErrorTrap::handle);
    }
    ~ErrorTrap() {
        XSetErrorHandler(previous_);
        active_ = outer_;
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits until the server has answered every request so far; true when none failed.
    bool sync() {
        XSync(display_, False);
        return errors_ == 0;
    }
    int accessErrors() const { return accessErrors_; }

private:
    static int handle(Display* display, XErrorEvent* event) {
        ErrorTrap* trap = active_;
        if (trap == nullptr || display != trap->display_) {
            return trap != nullptr && trap->previous_ != nullptr ? trap->previous_(display, event)
                                                                 : 0;
        }
        ++trap->errors_;
        if (event->error_code == BadAccess) {
            ++trap->accessErrors_;
        }
        return 0;
    }

    static inline ErrorTrap* active_ = nullptr;
    Display* display_;
    ErrorTrap* outer_ = nullptr;
    XErrorHandler previous_ = nullptr;
    int errors_ = 0;
    int accessErrors_ = 0;
};

// The modifier bit (Mod1Mask ...) that a key with one of keysyms sits on, or 0.
unsigned int modifierMaskFor(Display* display, std::initializer_list<KeySym> keysyms) {
    XModifierKeymap* map = XGetModifierMapping(display);
    if (map == nullptr) {
        return 0;
    }
    unsigned int mask = 0;
    for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
        for (int k = 0; k < map->max_keypermod; ++k) {
            const KeyCode code = map->modifiermap[modifier * map->max_keypermod + k];
            if (code == 0) {
                continue;
            }
            const KeySym sym = XkbKeycodeToKeysym(display, code, 0, 0);
            for (const KeySym wanted : keysyms) {
                if (sym == wanted) {
                    mask = 1U << static_cast<unsigned>(modifier);
                }
            }
        }
    }
    XFreeModifiermap(map);
    return mask;
}

} // namespace

struct X11HotkeyRegistrar::Impl {
    Display* display = nullptr;
    Window root = 0;
    unsigned int superMask = Mod4Mask;
    unsigned int altMask = Mod1Mask;
    unsigned int numLockMask = 0;
    std::unique_ptr<FdWatch> watch;

    // The current grab.
    bool grabbed = false;
    KeyCode keycode = 0;
    unsigned int modifiers = 0;
    bool keyDown = false; // between a press and its release: later presses are repeats
    std::function<void()> handler;

    std::vector<unsigned int> lockVariants() const {
        std::vector<unsigned int> variants{0, LockMask};
        if (numLockMask != 0 && numLockMask != LockMask) {
            variants.push_back(numLockMask);
            variants.push_back(numLockMask | LockMask);
        }
        return variants;
    }

    unsigned int maskOf(HotkeyModifiers set) const {
        unsigned int mask = 0;
        if (set.has(HotkeyModifiers::command)) {
            mask |= superMask;
        }
        if (set.has(HotkeyModifiers::option)) {
            mask |= altMask;
        }
        if (set.has(HotkeyModifiers::control)) {
            mask |= ControlMask;
        }
        if (set.has(HotkeyModifiers::shift)) {
            mask |= ShiftMask;
        }
        return mask;
    }

    void ungrab() {
        if (!grabbed) {
            return;
        }
        ErrorTrap trap(display);
        for (const unsigned int locks : lockVariants()) {
            XUngrabKey(display, keycode, modifiers | locks, root);
        }
        trap.sync();
        grabbed = false;
        keyDown = false;
    }
};

X11HotkeyRegistrar::X11HotkeyRegistrar(WatchFd watchFd, const std::string& displayName)
    : impl_(std::make_unique<Impl>()) {
    impl_->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (impl_->display == nullptr) {
        return;
    }
    Display* display = impl_->display;
    impl_->root = DefaultRootWindow(display);
    // Repeats of a held key then come as presses without releases, which tells them apart.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display, True, &supported);
    if (const unsigned int mask = modifierMaskFor(display, {XK_Super_L, XK_Super_R}); mask != 0) {
        impl_->superMask = mask;
    }
    if (const unsigned int mask = modifierMaskFor(display, {XK_Alt_L, XK_Alt_R, XK_Meta_L});
        mask != 0) {
        impl_->altMask = mask;
    }
    impl_->numLockMask = modifierMaskFor(display, {XK_Num_Lock});
    if (watchFd) {
        impl_->watch = watchFd(ConnectionNumber(display), [this] { processPendingEvents(); });
    }
}

X11HotkeyRegistrar::~X11HotkeyRegistrar() {
    impl_->watch.reset();
    if (impl_->display != nullptr) {
        impl_->ungrab();
        XCloseDisplay(impl_->display);
    }
}

bool X11HotkeyRegistrar::isAvailable() const {
    return impl_->display != nullptr;
}

void X11HotkeyRegistrar::registerCombo(const HotkeyCombo& combo, std::function<void()> handler) {
    if (impl_->display == nullptr) {
        throw HotkeyError(HotkeyError::Case::unavailable);
    }
    impl_->ungrab();
    const auto keysym = keysymForKeyCode(combo.keyCode);
    const KeyCode keycode =
        keysym ? XKeysymToKeycode(impl_->display, static_cast<KeySym>(*keysym)) : 0;
    if (keycode == 0) {
        throw HotkeyError(HotkeyError::Case::inUse); // not on this keyboard: cannot be grabbed
    }
    const unsigned int modifiers = impl_->maskOf(combo.modifiers);
    ErrorTrap trap(impl_->display);
    for (const unsigned int locks : impl_->lockVariants()) {
        XGrabKey(impl_->display, keycode, modifiers | locks, impl_->root, False, GrabModeAsync,
                 GrabModeAsync);
    }
    if (!trap.sync()) {
        // Some variant belongs to another client: release the ones we did get.
        for (const unsigned int locks : impl_->lockVariants()) {
            XUngrabKey(impl_->display, keycode, modifiers | locks, impl_->root);
        }
        trap.sync();
        throw HotkeyError(HotkeyError::Case::inUse);
    }
    impl_->grabbed = true;
    impl_->keycode = keycode;
    impl_->modifiers = modifiers;
    impl_->keyDown = false;
    impl_->handler = std::move(handler);
}

void X11HotkeyRegistrar::unregister() {
    if (impl_->display != nullptr) {
        impl_->ungrab();
    }
    impl_->handler = nullptr;
}

void X11HotkeyRegistrar::processPendingEvents() {
    Display* display = impl_->display;
    if (display == nullptr) {
        return;
    }
    // Only modifier bits count; lock keys and held mouse buttons do not.
    constexpr unsigned int allModifiers =
        ShiftMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;
    const unsigned int relevant = allModifiers & ~(LockMask | impl_->numLockMask);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            continue;
        }
        if (!impl_->grabbed || (event.type != KeyPress && event.type != KeyRelease) ||
            event.xkey.keycode != impl_->keycode) {
            continue;
        }
        if (event.type == KeyRelease) {
            impl_->keyDown = false;
            continue;
        }
        if ((event.xkey.state & relevant) != impl_->modifiers || impl_->keyDown) {
            continue;
        }
        impl_->keyDown = true;
        // A copy: the handler may replace or drop the registration.
        if (const auto handler = impl_->handler) {
            handler();
        }
    }
}

std::optional<std::string> keysymName(std::uint32_t keyCode) {
    const auto keysym = keysymForKeyCode(keyCode);
    if (!keysym) {
        return std::nullopt;
    }
    const char* name = XKeysymToString(static_cast<KeySym>(*keysym));
    if (name == nullptr) {
        return std::nullopt;
    }
    return std::string(name);
}

} // namespace brindell
