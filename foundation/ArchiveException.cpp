#include "foundation/ArchiveException.h"

IMPLEMENT_DYNAMIC(CArchiveException, CException)

CArchiveException::CArchiveException(Cause cause) : CException(CauseText(cause)), m_cause(cause) {}

const char* CArchiveException::CauseText(Cause cause) {
    switch (cause) {
        case none: return "No archive error";
        case generic: return "Archive error: malformed data";
        case readOnly: return "Archive error: the archive is loading and cannot be written";
        case endOfFile: return "Archive error: unexpected end of file";
        case writeOnly: return "Archive error: the archive is storing and cannot be read";
        case badIndex: return "Archive error: bad object index";
        case badClass: return "Archive error: bad or unexpected class";
        case badSchema: return "Archive error: schema mismatch";
    }
    return "Archive error";
}
