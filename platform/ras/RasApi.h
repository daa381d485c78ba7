/*
 * The dial-up API: the eleven classic dial-up entry points, their records with their classic
 * sizes, connection states and result codes. Linux has no dial-up service, so the engine loads
 * a library that exports these entry points at run time (platform/ras/RasLibrary.h); by
 * default that is the simulated dial-up library, libnorvane-ras-sim.so (platform/ras/sim/).
 * The engine never calls the prototypes below directly: it calls them through the pointer
 * types at the end, which the loader fills.
 *
 * This is a C header so that any C or C++ library can implement it. Every record is plain
 * data of fixed size; handles are 32-bit; strings are NUL-terminated bytes inside their
 * arrays. Every call returns 0 on success or one of the result codes below.
 *
 * What each entry point does in the simulator is told beside its prototype; the simulator's
 * phonebook file and its test-only exports are described in platform/ras/sim/README.md and
 * platform/ras/sim/RasSimControl.h.
 */
#ifndef NORVANE_PLATFORM_RAS_RASAPI_H
#define NORVANE_PLATFORM_RAS_RASAPI_H

#include <stdint.h>

#ifdef __cplusplus
/* ERROR_INVALID_HANDLE (6), ERROR_NOT_ENOUGH_MEMORY (8) and ERROR_INVALID_PARAMETER (87) are
 * shared with the other platform layers and defined there once. */
#include "platform/kernel/Types.h"
#define RAS_STATIC_ASSERT(condition, message) static_assert(condition, message)
extern "C" {
#else
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define RAS_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

/* A connection handle. 0 is no connection; the library never hands out a number twice. */
typedef uint32_t HRASCONN;

/* Lengths of the text fields, without their terminating NUL. */
#define RAS_MAX_ENTRY_NAME 256
#define RAS_MAX_PHONE_NUMBER 128
#define RAS_MAX_CALLBACK_NUMBER 128
#define RAS_MAX_USER_NAME 256
#define RAS_MAX_PASSWORD 256
#define RAS_MAX_DOMAIN 15
#define RAS_MAX_DEVICE_TYPE 16
#define RAS_MAX_DEVICE_NAME 128
#define RAS_MAX_IP_ADDRESS 15

/* ---- Connection states -------------------------------------------------------------------- */

/* The states a dial passes through, in the order of their numbers; a successful dial ends in
 * RASCS_Connected, a dial that was hung up or a line that dropped is RASCS_Disconnected. */
typedef enum RASCONNSTATE {
    RASCS_OpenPort = 0,
    RASCS_PortOpened = 1,
    RASCS_ConnectDevice = 2,
    RASCS_DeviceConnected = 3,
    RASCS_AllDevicesConnected = 4,
    RASCS_Authenticate = 5,
    RASCS_AuthNotify = 6,
    RASCS_AuthRetry = 7,
    RASCS_AuthCallback = 8,
    RASCS_AuthChangePassword = 9,
    RASCS_AuthProject = 10,
    RASCS_AuthLinkSpeed = 11,
    RASCS_AuthAck = 12,
    RASCS_ReAuthenticate = 13,
    RASCS_Authenticated = 14,
    RASCS_Connected = 0x2000,
    RASCS_Disconnected = 0x2001
} RASCONNSTATE;

/* ---- Result codes ------------------------------------------------------------------------- */

#define RAS_SUCCESS 0u
#define ERROR_PORT_ALREADY_OPEN 602u          /* the entry's line is in use */
#define ERROR_BUFFER_TOO_SMALL 603u           /* the size needed is returned; call again */
#define ERROR_OUT_OF_BUFFERS 614u
#define ERROR_PORT_DISCONNECTED 619u
#define ERROR_CANNOT_OPEN_PHONEBOOK 621u
#define ERROR_CANNOT_LOAD_PHONEBOOK 622u
#define ERROR_CANNOT_FIND_PHONEBOOK_ENTRY 623u
#define ERROR_CORRUPT_PHONEBOOK 625u
#define ERROR_DISCONNECTION 628u
#define ERROR_REMOTE_DISCONNECTION 629u
#define ERROR_HARDWARE_FAILURE 630u
#define ERROR_USER_DISCONNECTION 631u
#define ERROR_INVALID_SIZE 632u               /* a record's dwSize is not its classic size */
#define ERROR_PORT_NOT_AVAILABLE 633u
#define ERROR_REQUEST_TIMEOUT 638u
#define ERROR_RESTRICTED_LOGON_HOURS 646u
#define ERROR_ACCT_DISABLED 647u
#define ERROR_PASSWD_EXPIRED 648u
#define ERROR_NO_DIALIN_PERMISSION 649u
#define ERROR_SERVER_NOT_RESPONDING 650u
#define ERROR_LINE_BUSY 676u
#define ERROR_VOICE_ANSWER 677u
#define ERROR_NO_ANSWER 678u
#define ERROR_NO_CARRIER 679u
#define ERROR_NO_DIALTONE 680u
#define ERROR_AUTHENTICATION_FAILURE 691u
#define ERROR_INTERACTIVE_MODE 703u
#define ERROR_PPP_TIMEOUT 718u
#define ERROR_PROJECTION_NOT_COMPLETE 730u
#define ERROR_PROTOCOL_NOT_CONFIGURED 731u

/* ---- Records ------------------------------------------------------------------------------ */

/* Dial options (RASDIALEXTENSIONS.dwfOptions). */
#define RDEOPT_UsePrefixSuffix 0x00000001u
#define RDEOPT_PausedStates 0x00000002u
#define RDEOPT_DisableConnectedUI 0x00000040u
#define RDEOPT_DisableReconnectUI 0x00000080u
#define RDEOPT_DisableReconnect 0x00000100u
#define RDEOPT_NoUser 0x00000200u

typedef struct RASDIALEXTENSIONS {
    uint32_t dwSize; /* 16 */
    uint32_t dwfOptions;
    uint32_t hwndParent; /* a window for dialogs; there are none here */
    uint32_t reserved;
} RASDIALEXTENSIONS;

typedef struct RASDIALPARAMSA {
    uint32_t dwSize; /* 1052 */
    char szEntryName[RAS_MAX_ENTRY_NAME + 1];
    char szPhoneNumber[RAS_MAX_PHONE_NUMBER + 1];       /* empty: the entry's own number */
    char szCallbackNumber[RAS_MAX_CALLBACK_NUMBER + 1]; /* "*": no callback */
    char szUserName[RAS_MAX_USER_NAME + 1];
    char szPassword[RAS_MAX_PASSWORD + 1];
    char szDomain[RAS_MAX_DOMAIN + 1]; /* "*": the entry's own domain */
} RASDIALPARAMSA;

/* One connection, as RasEnumConnectionsA lists it. */
typedef struct RASCONNA {
    uint32_t dwSize; /* 412 */
    HRASCONN hrasconn;
    char szEntryName[RAS_MAX_ENTRY_NAME + 1];
    char szDeviceType[RAS_MAX_DEVICE_TYPE + 1];
    char szDeviceName[RAS_MAX_DEVICE_NAME + 1];
} RASCONNA;

/* One phonebook entry's name, as RasEnumEntriesA lists it. */
typedef struct RASENTRYNAMEA {
    uint32_t dwSize; /* 264 */
    char szEntryName[RAS_MAX_ENTRY_NAME + 1];
} RASENTRYNAMEA;

typedef struct RASCONNSTATUSA {
    uint32_t dwSize;       /* 160 */
    uint32_t rasconnstate; /* a RASCONNSTATE */
    uint32_t dwError;      /* 0, or the result code that ended the dial or the line */
    char szDeviceType[RAS_MAX_DEVICE_TYPE + 1];
    char szDeviceName[RAS_MAX_DEVICE_NAME + 1];
} RASCONNSTATUSA;

/* Projection types for RasGetProjectionInfoA. */
#define RASP_PppIp 0x8021u

/* The IP addresses of a PPP line: the machine's own end and the server's. */
typedef struct RASPPPIPA {
    uint32_t dwSize; /* 40 */
    uint32_t dwError;
    char szIpAddress[RAS_MAX_IP_ADDRESS + 1];
    char szServerIpAddress[RAS_MAX_IP_ADDRESS + 1];
} RASPPPIPA;

RAS_STATIC_ASSERT(sizeof(HRASCONN) == 4, "connection handles are 32-bit");
RAS_STATIC_ASSERT(sizeof(RASDIALEXTENSIONS) == 16, "dial extensions are 16 bytes");
RAS_STATIC_ASSERT(sizeof(RASDIALPARAMSA) == 1052, "dial parameters are 1052 bytes");
RAS_STATIC_ASSERT(sizeof(RASCONNA) == 412, "a connection record is 412 bytes");
RAS_STATIC_ASSERT(sizeof(RASENTRYNAMEA) == 264, "an entry-name record is 264 bytes");
RAS_STATIC_ASSERT(sizeof(RASCONNSTATUSA) == 160, "a connection status record is 160 bytes");
RAS_STATIC_ASSERT(sizeof(RASPPPIPA) == 40, "a PPP IP projection is 40 bytes");

/* ---- Notifier of asynchronous dials -------------------------------------------------------- */

/* The notifier type RasDialA accepts: `notifier` points to a RASDIALNOTIFIER. It stands in
 * for the window that receives the classic dial events. */
#define RAS_NOTIFIER_FUNCTION 0xFFFFFFFFu

/* Called once per state the dial reaches, in order, on a thread of the library (never the
 * caller's, never under a lock of the library), with the connection handle, the state and 0,
 * or the result code that ends the dial. Each asynchronous dial that returned 0 ends with
 * exactly one terminal event: RASCS_Connected with 0, any state with an error, or
 * RASCS_Disconnected with ERROR_USER_DISCONNECTION when RasHangUpA stopped it. The function may
 * call the library, and should hand the event on (post it to a thread) rather than wait for
 * a thread that may be inside RasHangUpA. */
typedef void (*RASDIALNOTIFYFUNC)(void* context, HRASCONN connection, uint32_t state, uint32_t error);

typedef struct RASDIALNOTIFIER {
    RASDIALNOTIFYFUNC function;
    void* context; /* passed back unchanged; must stay valid as long as events may come */
} RASDIALNOTIFIER;

/* ---- Entry points ---------------------------------------------------------------------------
 * `phonebook` is always NULL or "" (the library's one phonebook); the simulator answers
 * ERROR_CANNOT_OPEN_PHONEBOOK for any other. Every record passed in must carry its classic
 * size in dwSize (else ERROR_INVALID_SIZE) and NUL-terminated texts (else
 * ERROR_INVALID_PARAMETER). In the simulator the phonebook calls answer
 * ERROR_CANNOT_LOAD_PHONEBOOK while its phonebook file cannot be read and
 * ERROR_CORRUPT_PHONEBOOK while the file is malformed. */

/* Dials params->szEntryName with the user name, password and domain of `params`.
 * Writes the new handle to *connection before anything else happens, so that the first event
 * finds it there. With `notifier` NULL the dial is synchronous: the call returns 0 once the
 * line is connected, or the code that ended the dial (the handle stays valid and must be hung
 * up). With notifierType RAS_NOTIFIER_FUNCTION the call returns 0 at once and the states
 * arrive through the notifier (above). Other notifier types: ERROR_INVALID_PARAMETER.
 * Simulator: the dial goes through the states 0, 1, 2, 3, 4, 5, 6, 10, 11, 12, 14 and
 * RASCS_Connected with the entry's delays, unless the entry's outcome for this attempt fails it
 * at a state with a code or never answers (it then stays at RASCS_ConnectDevice until hung
 * up); credentials the entry does not accept fail it at RASCS_AuthNotify with
 * ERROR_AUTHENTICATION_FAILURE. An entry already connected answers 0 at once with its handle
 * (and one RASCS_Connected event); an entry whose line is still dialling, failed or dropped but
 * not hung up, or lingering after a hang-up answers ERROR_PORT_ALREADY_OPEN and handle 0; an
 * unknown entry ERROR_CANNOT_FIND_PHONEBOOK_ENTRY and handle 0; ERROR_OUT_OF_BUFFERS when the
 * library already holds 1024 connections (or 64 answers to one connected entry are still on
 * their way). */
uint32_t RasDialA(const RASDIALEXTENSIONS* extensions, const char* phonebook,
                  const RASDIALPARAMSA* params, uint32_t notifierType, void* notifier,
                  HRASCONN* connection);

/* Lists the connections whose handles are valid (dialling, connected, ended, lingering), in
 * the order they were dialled, into `connections`, an array of *bytes bytes whose first record
 * carries dwSize 412. Writes the number listed to *count and the bytes used to *bytes. When the
 * array cannot hold them all: ERROR_BUFFER_TOO_SMALL, with the bytes needed in *bytes and the
 * number of connections in *count, and nothing written; a NULL array is such a size query. */
uint32_t RasEnumConnectionsA(RASCONNA* connections, uint32_t* bytes, uint32_t* count);

/* Lists the phonebook's entry names, in phonebook order, with the same two-call protocol as
 * RasEnumConnectionsA (records of 264 bytes). `reserved` must be NULL. */
uint32_t RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries,
                         uint32_t* bytes, uint32_t* count);

/* The state of a connection, the code that ended it (0 while it is fine), and its device.
 * ERROR_INVALID_HANDLE for a handle that is not (or no longer) valid: a hung-up connection's
 * handle answers RASCS_Disconnected while it lingers, then ERROR_INVALID_HANDLE for good. */
uint32_t RasGetConnectStatusA(HRASCONN connection, RASCONNSTATUSA* status);

/* The text of a result code, NUL-terminated, into `buffer` of `size` bytes (256 always
 * suffices). ERROR_INVALID_PARAMETER for a code without a text (0 among them) or a NULL
 * buffer, ERROR_BUFFER_TOO_SMALL when the text does not fit. The simulator has a text for
 * every code it can answer. */
uint32_t RasGetErrorStringA(uint32_t error, char* buffer, uint32_t size);

/* Hangs a connection up, or stops its dial. Returns at once: the handle lingers (see
 * RasGetConnectStatusA) for the entry's linger time while the line is released, and the
 * entry cannot be dialled again until then. When called outside a notifier, every event of
 * the connection has been delivered when it returns (a dial it stopped ends with
 * RASCS_Disconnected and ERROR_USER_DISCONNECTION). Idempotent: 0 for any valid handle, a
 * lingering one included; ERROR_INVALID_HANDLE once the handle is gone. Never touches another
 * connection. */
uint32_t RasHangUpA(HRASCONN connection);

/* The projection of a connected line into `buffer` of *bytes bytes (its dwSize set).
 * Only RASP_PppIp (a RASPPPIPA) is answered; other projections ERROR_PROTOCOL_NOT_CONFIGURED.
 * A buffer smaller than the record: ERROR_BUFFER_TOO_SMALL with the size in *bytes. A
 * connection that is not connected: ERROR_PROJECTION_NOT_COMPLETE. */
uint32_t RasGetProjectionInfoA(HRASCONN connection, uint32_t projection, void* buffer,
                               uint32_t* bytes);

/* Interactive phonebook editing. There is no user interface to edit with: the simulator
 * answers ERROR_INTERACTIVE_MODE (and ERROR_CANNOT_FIND_PHONEBOOK_ENTRY for an entry it does
 * not have); its phonebook is edited as a file. */
uint32_t RasCreatePhonebookEntryA(uint32_t parentWindow, const char* phonebook);
uint32_t RasEditPhonebookEntryA(uint32_t parentWindow, const char* phonebook, const char* entry);

/* Saves, for params->szEntryName, the user name, password, domain, phone and callback numbers
 * of `params`; removePassword non-zero forgets the saved password instead of saving one. The
 * simulator keeps them in memory for the life of the process; they do not change what a dial
 * uses, which is always what RasDialA is given. */
uint32_t RasSetEntryDialParamsA(const char* phonebook, const RASDIALPARAMSA* params,
                                int32_t removePassword);

/* Fills `params` with what was saved for params->szEntryName (empty texts when nothing was);
 * *passwordRetrieved says whether a password was saved. */
uint32_t RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params,
                                int32_t* passwordRetrieved);

/* The entry points as the loader finds them. */
typedef uint32_t (*PFN_RASDIALA)(const RASDIALEXTENSIONS*, const char*, const RASDIALPARAMSA*,
                                 uint32_t, void*, HRASCONN*);
typedef uint32_t (*PFN_RASENUMCONNECTIONSA)(RASCONNA*, uint32_t*, uint32_t*);
typedef uint32_t (*PFN_RASENUMENTRIESA)(const char*, const char*, RASENTRYNAMEA*, uint32_t*,
                                        uint32_t*);
typedef uint32_t (*PFN_RASGETCONNECTSTATUSA)(HRASCONN, RASCONNSTATUSA*);
typedef uint32_t (*PFN_RASGETERRORSTRINGA)(uint32_t, char*, uint32_t);
typedef uint32_t (*PFN_RASHANGUPA)(HRASCONN);
typedef uint32_t (*PFN_RASGETPROJECTIONINFOA)(HRASCONN, uint32_t, void*, uint32_t*);
typedef uint32_t (*PFN_RASCREATEPHONEBOOKENTRYA)(uint32_t, const char*);
typedef uint32_t (*PFN_RASEDITPHONEBOOKENTRYA)(uint32_t, const char*, const char*);
typedef uint32_t (*PFN_RASSETENTRYDIALPARAMSA)(const char*, const RASDIALPARAMSA*, int32_t);
typedef uint32_t (*PFN_RASGETENTRYDIALPARAMSA)(const char*, RASDIALPARAMSA*, int32_t*);

#ifdef __cplusplus
}
#endif

#endif
