#pragma once
// Library exceptions are thrown by pointer: these helpers catch and free them in tests.

#include "platform/framework/Exception.h"

// True when `fn()` throws an E* (freed here); false when it returns. Any other exception passes.
template <class E, class Fn>
bool ThrowsPtr(Fn fn) {
    try {
        fn();
    } catch (E* e) {
        e->Delete();
        return true;
    }
    return false;
}
