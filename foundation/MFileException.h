#pragma once
// The failure of a buffered-file operation. Like every exception of the library it is thrown
// by pointer (`throw new CMFileException(code)`); whoever catches it deletes it (Delete()).

#include "platform/framework/Exception.h"

#include <string>

class CMFileException : public CException {
    DECLARE_DYNAMIC(CMFileException)
public:
    // Codes of the operations that fail with an exception; the text of each is fixed.
    static constexpr int GenericError = 0;
    static constexpr int CreateError = -1;
    static constexpr int OpenError = -2;
    static constexpr int CloseError = -3;
    static constexpr int DeleteError = -4;
    static constexpr int CopyError = -5;
    static constexpr int AppendError = -6;

    // Code 1 and an empty text.
    CMFileException();
    // The code with its text from the table (an unknown code gets the text for undocumented
    // errors).
    explicit CMFileException(int code);

    int GetCode() const { return m_code; }
    const std::string& GetText() const { return m_message; }
    std::string GetErrorMessage() const override { return m_message; }

    // The fixed text of a code.
    static const char* TextOf(int code);

private:
    int m_code;
};
