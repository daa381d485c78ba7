#pragma once
// Every text the console session shows, and the numbers of its requests and messages that are
// its own (the protocol's codes are remote/RCPOperations.h). Texts are kept byte for byte: the
// operators of the engine know them ("occured" and the double spaces included).

#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

namespace SessionTexts {

// --- Log-on ---------------------------------------------------------------------------------
inline constexpr const char* kLogonFailedTitle = "Problem connecting to server";
struct LogonFailure {
    int code;
    const char* text;
};
inline constexpr LogonFailure kLogonFailures[] = {
    {10061,
     "There was a problem connecting to the server.\nConnection refused by server.  Check your\n"
     "server name and port number"},
    {100,
     "There was a problem connecting to the server.\nNo data was received from the server during\n"
     "authentication.  Check the spelling of your username."},
    {102,
     "There was a problem connecting to the server.\nWrong protocol version.  Make sure you are\n"
     "using compatible versions of\nNorvane and Wardenhall"},
    {103, ""},
    {104,
     "There was a problem connecting to the server.\nFailed authentication. Check your username and "
     "password\n"},
    {105, "There was a problem connecting to the server.\nWrong username given"},
    {106, "There was a problem connecting to the server.\nNo username given"},
    {107,
     "There was a problem connecting to the server.\nNo such user - you tried to log in as a user "
     "that does not exist\n(note - usernames are case sensitive)"},
    {108,
     "There was a problem connecting to the server.\nBad password - recheck your password\n(note - "
     "passwords are case sensitive)"},
    {109,
     "There was a problem connecting to the server.\nWrong client type - you can only connect to\n"
     "a Norvane remote Control Service"},
};
// Code 101 (a protocol error of the handshake), and any other code; "%s" takes the exception's
// text.
inline constexpr int kLogonProtocolError = 101;
inline constexpr const char* kLogonFailedProtocol =
    "There was a problem connecting to the server.\nA protocol error occured:\n%s";
inline constexpr const char* kLogonFailedOther = "There was a problem connecting\nSocket error: %s";

// --- Transactions ---------------------------------------------------------------------------
inline constexpr const char* kAuthenticationTitle = "Norvane Authentication";
inline constexpr const char* kAccessDenied = "Access denied.\n";
inline constexpr const char* kServerErrorTitle = "Server Error";
inline constexpr const char* kServerError =
    "There was an internal error in Norvane.\nYou should check your system settings";
inline constexpr const char* kInternalErrorTitle = "Internal Error";
// "%s" takes the socket exception's text.
inline constexpr const char* kInternalErrorSocket = "There was an internal error in Wardenhall\n%s";
inline constexpr const char* kInternalError = "There was an internal error in Wardenhall";

// --- Messages of the engine -----------------------------------------------------------------
// Message from another user: the sender's user name, then its machine's address.
inline constexpr const char* kMessageFrom = "Message from %s on %s";
inline constexpr const char* kMustChangePassword =
    "You must change your password.\nUntil then you have no rights on this system";
inline constexpr const char* kSessionTerminated = "Session Terminated by remote server";

// --- Numbers --------------------------------------------------------------------------------
// A frame holding the smallest message: the length word, the code and three empty strings.
inline constexpr int kSmallestFrame = 9;
// Thread message of the session: end with the code in wParam (a dismissed box asks for it).
inline constexpr UINT kTerminateMessage = WM_USER + 7;

}  // namespace SessionTexts
