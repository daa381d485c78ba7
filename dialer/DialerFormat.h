#pragma once
// The dial-up manager's stored forms, texts and numbers, as one table: the registry values of
// the dialer and of its profiles, the archive layouts consoles exchange, the thread messages,
// the status texts a profile shows, the texts a refused connection gets, and every line of
// "Dialer.log". Consoles, stored configurations and log readers rely on each of them.
//
// Registry, below the dialer's key ("Dialer"):
//   Profiles\<name>           one sub-key per profile, named by its Name (below)
//   LocalSites                one DWORD value (data 0) per local site, named by the site text
//   LoggingEnabled            DWORD  1
//   LogOptions                DWORD  1     bit 1 normal lines, bit 2 debug lines
//   TimerInterval             DWORD  2     idle checks on every n-th one-second tick
//   RasdialTimeout            DWORD  90000 milliseconds an asynchronous dial may take
//   UseSynchronousRasdial     DWORD  0
//
// A profile's key:
//   Name, Description         strings (the filter component's values)
//   AutoConnect               DWORD  1
//   AutoDisconnect            DWORD  1
//   DisconnectAfter           DWORD  180   seconds idle before the line is hung up (signed)
//   ProfileName               string ""    the phonebook entry dialled
//   Username                  string ""
//   Password                  string ""    scrambled (foundation/Scrambler.h)
//   Domain                    string ""    empty: "*" is dialled (the entry's own domain)
//   Retries                   DWORD  3     dial attempts per dial sequence (signed)
//   AccessRights              sub-key: the right that says whose connections may dial
//
// Archive form of a profile (untagged): Name, Description, AutoConnect, AutoDisconnect,
// DisconnectAfter (4 bytes each), ProfileName, Username, Password (scrambled), Domain,
// Retries (4 bytes), the status text, then the AccessRights right's own form.
//
// Archive form of the dialer (requests 60-62): the number of profiles as a 4-byte word; for
// each profile, in name order, its name (string) and its form above; the phonebook entries
// and the local sites (each a string list: count, then the strings); LoggingEnabled,
// LogOptions, TimerInterval (4 bytes each). RasdialTimeout and UseSynchronousRasdial do not
// travel.

#include "platform/kernel/Thread.h"
#include "platform/kernel/Types.h"

#include <cstddef>
#include <cstdint>

namespace DialerFormat {

// --- Registry ----------------------------------------------------------------------------------
inline constexpr const char* kProfilesKey = "Profiles";
inline constexpr const char* kLocalSitesKey = "LocalSites";
inline constexpr const char* kLoggingEnabledValue = "LoggingEnabled";
inline constexpr const char* kLogOptionsValue = "LogOptions";
inline constexpr const char* kTimerIntervalValue = "TimerInterval";
inline constexpr const char* kRasdialTimeoutValue = "RasdialTimeout";
inline constexpr const char* kUseSynchronousRasdialValue = "UseSynchronousRasdial";

inline constexpr const char* kAutoConnectValue = "AutoConnect";
inline constexpr const char* kAutoDisconnectValue = "AutoDisconnect";
inline constexpr const char* kDisconnectAfterValue = "DisconnectAfter";
inline constexpr const char* kProfileNameValue = "ProfileName";
inline constexpr const char* kUsernameValue = "Username";
inline constexpr const char* kPasswordValue = "Password";
inline constexpr const char* kDomainValue = "Domain";
inline constexpr const char* kRetriesValue = "Retries";
inline constexpr const char* kAccessRightsKey = "AccessRights";

// --- Defaults ----------------------------------------------------------------------------------
inline constexpr DWORD kDefaultLoggingEnabled = 1;
inline constexpr DWORD kDefaultLogOptions = 1;
inline constexpr DWORD kDefaultTimerInterval = 2;
inline constexpr DWORD kDefaultRasdialTimeoutMs = 90000;
inline constexpr DWORD kDefaultUseSynchronousRasdial = 0;

inline constexpr const char* kDefaultProfileName = "New Dialer Profile";
inline constexpr DWORD kDefaultAutoConnect = 1;
inline constexpr DWORD kDefaultAutoDisconnect = 1;
inline constexpr LONG kDefaultDisconnectAfter = 180;
inline constexpr LONG kDefaultRetries = 3;
inline constexpr const char* kDefaultAccessDescription = "Users can use this dialer account";

// --- Line states (notification 63's second text) -----------------------------------------------
inline constexpr DWORD kLineOff = 0;
inline constexpr DWORD kLineOn = 1;
inline constexpr DWORD kLineError = 2;

// --- Thread messages and timing ------------------------------------------------------------------
// Posted to the dialer thread by a console's dial or hang-up request: wParam the action,
// lParam the number of the queued request that names the profile.
inline constexpr UINT kDialOrHangUpMessage = 0x43F;
inline constexpr std::uintptr_t kActionReset = 0;
inline constexpr std::uintptr_t kActionDial = 1;
// A dial event, posted to the dialer thread by the dial-up library's notifier: wParam the
// attempt number (high 32 bits) and the connection handle (low 32), lParam the state (high 32)
// and the error (low 32).
inline constexpr UINT kRasDialEventMessage = 0xCCCD;

inline constexpr DWORD kTimerPeriodMs = 1000;
// More exceptions than this in one second of the dialer thread's loop restart the thread.
inline constexpr DWORD kMaxExceptionsPerSecond = 20;
// Pauses of a dial sequence and a hang-up.
inline constexpr DWORD kResetAfterFailedDialMs = 2000;
inline constexpr DWORD kRecheckAfterFailedDialMs = 3000;
inline constexpr DWORD kHangUpPollMs = 500;
inline constexpr DWORD kHangUpWaitMs = 3000;
inline constexpr unsigned kHangUpPasses = 3;
// How long a stop waits for a dial sequence it interrupted to give the line back.
inline constexpr DWORD kStopDialWaitMs = 10000;
// Enumerations whose count keeps growing between the size query and the fetch give up after
// this many tries.
inline constexpr unsigned kEnumerationTries = 5;

// Dial extensions: use prefix and suffix, no connected, reconnect or user dialogs, no
// automatic reconnect.
inline constexpr DWORD kDialOptions = 0x3C1;
// Dialled for an empty Domain and as the callback number: the entry's own / none.
inline constexpr const char* kEntryDefault = "*";

// A status text holds at most this many characters.
inline constexpr std::size_t kMaxStatusText = 255;
// The buffer a dial-up error text is fetched into.
inline constexpr DWORD kErrorTextBuffer = 256;

// --- Texts -------------------------------------------------------------------------------------
inline constexpr const char* kDescriptionFormat = "Account %s at %s %s";  // user, entry, flag
inline constexpr const char* kDisabledMark = "(disabled)";

// Refusals a session gets from CheckDialFirst (X1SocketException, code 0).
inline constexpr const char* kNoAccessText =
    "You do not have any access to any active dialers. Contact your system administrator";
inline constexpr const char* kFailedConnectionText = "Norvane Dialer failed connection";

// Status texts.
inline constexpr const char* kStatusDialling = "Dialling %s";
inline constexpr const char* kStatusDisconnecting = "Disconnecting from %s";
inline constexpr const char* kStatusDisconnectedFrom = "Disconnected from %s";
inline constexpr const char* kStatusOffLine = "Off-Line";
inline constexpr const char* kStatusOnLine = "On line to %s";
inline constexpr const char* kStatusDisconnected = "Disconnected";
inline constexpr const char* kStatusConnecting = "Connecting to %s";
inline constexpr const char* kStatusConnectingIsdn = "Connecting (ISDN) to %s";
inline constexpr const char* kStatusPostconnecting = "Postconnecting through %s";
// The text of a dial-up error the library has no text for.
inline constexpr const char* kUnknownErrorText = "Dial-up error %u";

// What a dial event in one of these states (without an error) shows.
struct StateText {
    DWORD state;
    const char* text;
};
inline constexpr StateText kStateTexts[] = {
    {0, "Opening Port"},
    {1, "Port Opened"},
    {3, "Connected"},
    {4, "All devices connected"},
    {5, "Verifying username and password"},
    {7, "Retry Authentication"},
    {9, "Change Password"},
    {10, "Registering your computer on the network"},
    {11, "Calculating Link Speed"},
    {13, "Re-authenticating"},
};
// State 2 (connecting the device) shows the device: by its type, with its name.
struct DeviceText {
    const char* deviceType;
    const char* format;
};
inline constexpr DeviceText kDeviceTexts[] = {
    {"modem", kStatusConnecting},
    {"pad", kStatusConnecting},
    {"null", kStatusConnecting},
    {"isdn", kStatusConnectingIsdn},
    {"switch", kStatusPostconnecting},
};

// "Dialer.log" lines. Normal lines (type 1):
inline constexpr const char* kLogDialling = "Dialling %s";                 // ProfileName
inline constexpr const char* kLogDisconnecting = "Disconnecting from %s";  // ProfileName
inline constexpr const char* kLogResetting = "Resetting %s";               // ProfileName
inline constexpr const char* kLogDialingProfile = "Dialing profile %s";    // Name (also debug)
// Debug lines (type 2):
inline constexpr const char* kLogStatus = "%s: %s";  // Name, status text
inline constexpr const char* kLogDialWhileDialling = "Dial called (%s) whilst in dial sequence - ignoring";
inline constexpr const char* kLogNoEvent = "Could not create event handle to dial %s";
inline constexpr const char* kLogDialSynchronous = "Dialing Synchronous %s";
inline constexpr const char* kLogDialFailed = "RasDial (%s) call failed error %u";
inline constexpr const char* kLogDialFailedHandle = "RasDial (%s) call failed but non-null handle - resetting";
inline constexpr const char* kLogOutOfBuffers = "RasDial (%s) failed ERROR_OUT_OF_BUFFERS - restarting dialer thread";
inline constexpr const char* kLogCorruptPhonebook = "RasDial (%s) failed ERROR_CORRUPT_PHONEBOOK - restarting dialer thread";
inline constexpr const char* kLogCannotLoadPhonebook = "RasDial (%s) failed ERROR_CANNOT_LOAD_PHONEBOOK - restarting dialer thread";
inline constexpr const char* kLogDialSucceeded = "Dial (%s) succeeded";
inline constexpr const char* kLogDialPoint1 = "Dial (%s) failed (point 1) - waiting";
inline constexpr const char* kLogDialPoint2 = "Dial (%s) failed (point 2)- resetting";
inline constexpr const char* kLogNoConnectionHangUp = "Could not find connection to hangup (%s) try %u";
inline constexpr const char* kLogHangUpError = "RasHangUp returned error code %u";
inline constexpr const char* kLogHangUpTimedOut = "Timed out of hangup (%s) waiting for RAS";
inline constexpr const char* kLogNoConnectionReset = "Could not find connection to reset (%s) try %u";
inline constexpr const char* kLogResetError = "RasHangUp returned error code %u in Reset";
inline constexpr const char* kLogResetTimedOut = "Timed out of Reset (%s) waiting for RAS";
inline constexpr const char* kLogNoProjection = "Could not get PPP projection info - result %u";
inline constexpr const char* kLogTimingOut = "Timing out profile %s";
inline constexpr const char* kLogLocalSite = "Local site %s not dialed - matched on %s";  // host, site
inline constexpr const char* kLogAllDisabled = "All profiles disabled - not dialing";
inline constexpr const char* kLogOnLineGrants = "Profile %s on line and grants access for %s";
inline constexpr const char* kLogNoProfile = "No acceptable dialer profiles - request denied for %s";
inline constexpr const char* kLogProfileFailed = "Profile %s failed connection";
inline constexpr const char* kLogCheckDialFirstException = "Caught unknown exception in CDialer::CheckDialFirst - ignoring";
inline constexpr const char* kLogInitException = "Caught unknown exception in CDialer::InitInstance - dialing will be disabled";
inline constexpr const char* kLogLoopException = "Caught unknown exception in CDialer main thread loop (%u this second)";
inline constexpr const char* kLogTooManyExceptions = "********* Too many exceptions in CDialer::Run - restarting thread *******";
inline constexpr const char* kLogTimerException1 = "Caught unknown exception in CDialer::OnTimer part 1 - ignoring";
inline constexpr const char* kLogTimerException2 = "Caught unknown exception in CDialer::OnTimer part 2 - ignoring";
inline constexpr const char* kLogThreadStarted = "Dialer thread started";
inline constexpr const char* kLogThreadStopping = "Dialer thread stopping";
inline constexpr const char* kLogHangingUp = "Hanging up profile %s\n";
inline constexpr const char* kLogRefreshingPhonebook = "Refreshing OS phonebook entries";
inline constexpr const char* kLogEnumNoMemory = "Not enough memory to enum connections in CDialer::EnumConnections()";
inline constexpr const char* kLogEnumError = "Error in RasEnumConnections (code %u) returning 0";

}  // namespace DialerFormat
