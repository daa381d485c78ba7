#include "platform/ras/sim/SimErrors.h"

#include "platform/ras/RasApi.h"

namespace rassim {

namespace {

struct ErrorEntry {
    std::uint32_t code;
    const char* text;
};

constexpr ErrorEntry kErrors[] = {
    {ERROR_INVALID_HANDLE, "The connection handle is not valid."},
    {ERROR_NOT_ENOUGH_MEMORY, "There is not enough memory to complete the operation."},
    {ERROR_INVALID_PARAMETER, "A parameter is not valid."},
    {ERROR_PORT_ALREADY_OPEN, "The line is already in use."},
    {ERROR_BUFFER_TOO_SMALL, "The buffer is too small."},
    {ERROR_OUT_OF_BUFFERS, "No more connections can be made."},
    {ERROR_PORT_DISCONNECTED, "The line was disconnected."},
    {ERROR_CANNOT_OPEN_PHONEBOOK, "The phonebook cannot be opened."},
    {ERROR_CANNOT_LOAD_PHONEBOOK, "The phonebook cannot be loaded."},
    {ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, "The phonebook entry does not exist."},
    {ERROR_CORRUPT_PHONEBOOK, "The phonebook is corrupt."},
    {ERROR_DISCONNECTION, "The connection was closed."},
    {ERROR_REMOTE_DISCONNECTION, "The remote computer closed the connection."},
    {ERROR_HARDWARE_FAILURE, "The modem or other connecting device failed."},
    {ERROR_USER_DISCONNECTION, "The connection was hung up."},
    {ERROR_INVALID_SIZE, "A record does not have the expected size."},
    {ERROR_PORT_NOT_AVAILABLE, "The line is not available for dialling out."},
    {ERROR_REQUEST_TIMEOUT, "The remote computer did not respond in time."},
    {ERROR_RESTRICTED_LOGON_HOURS, "The account may not connect at this time of day."},
    {ERROR_ACCT_DISABLED, "The account is disabled."},
    {ERROR_PASSWD_EXPIRED, "The account's password has expired."},
    {ERROR_NO_DIALIN_PERMISSION, "The account may not dial in."},
    {ERROR_SERVER_NOT_RESPONDING, "The remote server is not responding."},
    {ERROR_LINE_BUSY, "The line is busy."},
    {ERROR_VOICE_ANSWER, "A person answered instead of a modem."},
    {ERROR_NO_ANSWER, "The remote computer did not answer."},
    {ERROR_NO_CARRIER, "No carrier was detected."},
    {ERROR_NO_DIALTONE, "There is no dial tone."},
    {ERROR_AUTHENTICATION_FAILURE, "The user name or password is not valid for the domain."},
    {ERROR_INTERACTIVE_MODE, "The phonebook cannot be edited interactively."},
    {ERROR_PPP_TIMEOUT, "The remote computer stopped answering during PPP negotiation."},
    {ERROR_PROJECTION_NOT_COMPLETE, "The connection is not complete yet."},
    {ERROR_PROTOCOL_NOT_CONFIGURED, "The protocol is not configured on the connection."},
};

}  // namespace

const char* ErrorText(std::uint32_t code) {
    for (const ErrorEntry& entry : kErrors)
        if (entry.code == code)
            return entry.text;
    return nullptr;
}

bool IsDialError(std::uint32_t code) { return code >= 600 && ErrorText(code); }

}  // namespace rassim
