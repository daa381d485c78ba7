#include "foundation/X1SocketException.h"

#include "foundation/SocketErrorTexts.h"

IMPLEMENT_DYNAMIC(X1SocketException, CException)

X1SocketException::X1SocketException(int code) : CException(SocketErrorText(code)), m_nErrorCode(code) {}

X1SocketException::X1SocketException(int code, std::string text)
    : CException(std::move(text)), m_nErrorCode(code) {}
