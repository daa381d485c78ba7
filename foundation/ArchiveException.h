#pragma once
// The archive's failures. Thrown by pointer and deleted by the catcher, as every library
// exception (platform/framework/Exception.h); any of them ends the reading or writing of the
// whole stream.

#include "platform/framework/Exception.h"

class CArchiveException : public CException {
    DECLARE_DYNAMIC(CArchiveException)
public:
    enum Cause {
        none = 0,
        generic = 1,    // malformed data outside the causes below (a nested wide marker)
        readOnly = 2,   // a write on an archive that is loading
        endOfFile = 3,  // fewer bytes left than a value, string, count or class name needs
        writeOnly = 4,  // a read on an archive that is storing
        badIndex = 5,   // a reference to an entry not read yet, to a class where an object
                        // belongs or the reverse, a back-reference into an owning container,
                        // too many entries, or nesting deeper than the limit
        badClass = 6,   // unknown class name, a name of 64 bytes or more, a class other than
                        // the one expected, or null where an object is required
        badSchema = 7,  // the stored schema differs from the registered one
    };

    explicit CArchiveException(Cause cause);
    Cause GetCause() const { return m_cause; }

    // The fixed text of each cause.
    static const char* CauseText(Cause cause);

private:
    Cause m_cause;
};
