#pragma once
// The failure of a buffered-file operation. Like every exception of the library it is thrown
// by pointer (`throw new CMFileException(code)`); whoever catches it deletes it.

#include <string>

class CMFileException {
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
    virtual ~CMFileException() = default;

    int GetCode() const { return m_code; }
    const std::string& GetText() const { return m_text; }

    // The fixed text of a code.
    static const char* TextOf(int code);

private:
    int m_code;
    std::string m_text;
};
