#pragma once
// The failure of a socket operation: a socket error number (0 for failures of the system's own
// protocols) and the text shown to users and written to logs. Like every library exception it
// is thrown by pointer (`throw new X1SocketException(code)`); whoever catches it calls Delete().

#include "platform/framework/Exception.h"

#include <string>

class X1SocketException : public CException {
    DECLARE_DYNAMIC(X1SocketException)
public:
    // The text is the one configured for `code` (SocketErrorTexts.h).
    explicit X1SocketException(int code = 0);
    // The text is `text`, as it is.
    X1SocketException(int code, std::string text);

    int GetErrorCode() const { return m_nErrorCode; }
    const std::string& GetErrorText() const { return m_message; }
    std::string GetErrorMessage() const override { return m_message; }

private:
    int m_nErrorCode;
};
