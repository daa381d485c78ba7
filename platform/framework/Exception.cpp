#include "platform/framework/Exception.h"

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CNotSupportedException, CException)

void DropCurrentException() noexcept {
    try {
        throw;
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
}
