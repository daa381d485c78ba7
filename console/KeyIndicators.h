#pragma once
// The states of the keyboard's lock keys, as the window system knows them. Only an X11 display
// tells them; elsewhere (offscreen, Wayland) they are unknown. GUI thread only.

struct LockKeyStates {
    bool known = false;
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

LockKeyStates QueryLockKeyStates();
