#pragma once
// The socket layer's user-visible texts: the built-in defaults, and the names under which the
// configuration store may replace them (key ErrorStrings\SocketErrors below the product root).
// A stored text that is used with an argument must hold exactly the conversion its default
// holds; otherwise the default is used, so a stored text never becomes a free format.

#include <string>

inline constexpr char kSocketErrorsKey[] = "ErrorStrings\\SocketErrors";

inline constexpr char kHostnameLookupFailedName[] = "HostnameLookupFailed";
inline constexpr char kHostnameLookupFailedText[] = "Host name lookup for '%s' failed";
inline constexpr char kRecvLineTimeoutName[] = "RecvLineTimeout";
inline constexpr char kRecvLineTimeoutText[] = "Timeout in recvline function";
inline constexpr char kRecvFixedTimeoutName[] = "RecvFixedTimeout";
inline constexpr char kRecvFixedTimeoutText[] = "Timeout in RecvFixedAmount function";

// Texts that are never read from the store.
inline constexpr char kNotifyWindowFailedText[] = "X1Socket callback window creation failed";
inline constexpr char kUnknownSocketErrorText[] = "Socket Error %i";
inline constexpr char kRecvLineEncipheredText[] =
    "RecvLine cannot read lines from an enciphered connection";

// The built-in text of a socket error number ("Socket Error <code>" for numbers without one).
std::string BuiltInSocketErrorText(int code);

// The text of a socket error number: the stored value named by the number in decimal, if it is
// not empty, else the built-in text.
std::string SocketErrorText(int code);

// "Host name lookup for '<host>' failed", or the stored replacement.
std::string HostnameLookupFailedText(const std::string& host);

// The time-out texts of the blocking reads.
std::string RecvLineTimeoutText();
std::string RecvFixedTimeoutText();

// The stored text named `valueName` under kSocketErrorsKey; empty when there is none.
std::string ReadStoredSocketText(const char* valueName);
