#include "console/KeyIndicators.h"

#include <QGuiApplication>

// Xlib's headers define macros (None, Bool, Status) that clash with Qt's names: they come last.
#include <X11/XKBlib.h>

namespace {

bool IndicatorOn(Display* display, const char* name) {
    Atom atom = XInternAtom(display, name, True);
    if (atom == 0)
        return false;
    int state = 0;
    return XkbGetNamedIndicator(display, atom, nullptr, &state, nullptr, nullptr) && state != 0;
}

}  // namespace

LockKeyStates QueryLockKeyStates() {
    LockKeyStates states;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (display == nullptr)
        return states;
    states.known = true;
    states.caps = IndicatorOn(display, "Caps Lock");
    states.num = IndicatorOn(display, "Num Lock");
    states.scroll = IndicatorOn(display, "Scroll Lock");
    return states;
}
