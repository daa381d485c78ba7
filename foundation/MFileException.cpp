#include "foundation/MFileException.h"

namespace {

struct CodeText {
    int code;
    const char* text;
};

// The texts users see for file failures, byte for byte ("occured" included).
constexpr CodeText kTexts[] = {
    {CMFileException::GenericError, "A file error occured"},
    {CMFileException::CreateError, "Error creating file"},
    {CMFileException::OpenError, "Error opening file"},
    {CMFileException::CloseError, "Error closing file"},
    {CMFileException::DeleteError, "Error deleting file"},
    {CMFileException::CopyError, "Error copying file"},
    {CMFileException::AppendError, "Error adding file"},
};
constexpr const char* kUndocumented = "Undocumented file error occured";

}  // namespace

IMPLEMENT_DYNAMIC(CMFileException, CException)

CMFileException::CMFileException() : m_code(1) {}

CMFileException::CMFileException(int code) : CException(TextOf(code)), m_code(code) {}

const char* CMFileException::TextOf(int code) {
    for (const CodeText& entry : kTexts)
        if (entry.code == code)
            return entry.text;
    return kUndocumented;
}
