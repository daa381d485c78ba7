#pragma once
// A dialer profile: one dial-up account of the engine. It names a phonebook entry of the dial-up
// library with the user name, password and domain to dial it with, carries the access right
// that says whose connections may make it dial, and the rules for hanging it up when it falls
// idle. The dialer (dialer/Dialer.h) keeps the profiles by Name, dials one when an outbound
// connection needs the line, and runs the idle check of every profile that is on line. Each
// change of a profile's status text goes to "Dialer.log" as a debug line and to every console
// (notification 63: Name, line state, text). Stored and archive forms: dialer/DialerFormat.h.
//
// The password is plain text in memory; it is scrambled (foundation/Scrambler.h) on a copy
// whenever it is stored or sent, and may hold any byte.
//
// Line operations (all need the engine's dialer thread running, see CDialer):
//   Dial      one dial sequence of up to Retries attempts; one sequence runs in the whole
//             engine at a time (a second call logs that it is ignored and returns). Runs on
//             the thread that needs the line, or on a worker thread of a console's request;
//             the dial's events are handled on the dialer thread meanwhile.
//   HangUp    ends a line this profile dialled (nothing unless a dial sequence ran since the
//             last hang-up); Reset ends whatever connection the entry has.
//   IsOnLine  whether the entry is connected without error; also brings the status text and
//             line state up to date (0 off line, 1 on line, 2 error).
//   CheckIdle the automatic hang-up after DisconnectAfter seconds in which no session of any
//             client machine had a socket on the line's own address.
//
// Ownership: profiles are shared (CObject references): the dialer's map holds one, and every
// thread that uses a profile outside the map's lock holds a CRef.
//
// Locking: one leaf mutex guards the settings, the status text, the line state and the
// connection; it is never held while the dial-up library is called, a log line is posted or a
// console is notified. The access right has its own lock. Name never changes once a profile is
// in a dialer; Description and the base's fields change only while no other thread knows the
// profile (the console's working copy, a profile being loaded).

#include "engine/access/FilterComponent.h"
#include "engine/access/Right.h"
#include "foundation/Format.h"
#include "platform/kernel/Types.h"
#include "platform/ras/RasApi.h"

#include <cstdint>
#include <mutex>
#include <string>

class CArchive;
class CDialer;

// The status text a dial event without an error shows, into `text`; false when the state
// changes nothing. State 2 (connecting the device) shows the device of `device` (null when its
// status query failed: nothing is shown). `entry` is the profile's phonebook entry.
bool DialEventStatusText(DWORD state, const RASCONNSTATUSA* device, const std::string& entry,
                         std::string& text);

class CDialerProfile : public CFilterComponent {
    DECLARE_SERIAL(CDialerProfile)
public:
    // What a console edits, as one value (Name and the access right apart).
    struct Settings {
        std::string description;
        DWORD autoConnect;
        DWORD autoDisconnect;
        LONG disconnectAfter;  // seconds
        std::string profileName;
        std::string username;
        std::string password;  // plain
        std::string domain;
        LONG retries;
        Settings();
    };

    // Name "New Dialer Profile", the settings' defaults, and an access right that grants no
    // one: kind 0, "Users can use this dialer account", IncludeDefaultRights 0, no recipients.
    CDialerProfile();
    explicit CDialerProfile(std::string name);
    ~CDialerProfile() override;
    CDialerProfile(const CDialerProfile&) = delete;
    CDialerProfile& operator=(const CDialerProfile&) = delete;

    Settings GetSettings() const;
    void SetSettings(const Settings& settings);
    CRight& GetAccessRights() { return m_accessRights; }
    const CRight& GetAccessRights() const { return m_accessRights; }
    // Takes the settings and a copy of the access right of `other`; this profile's Name,
    // status and line stay as they are.
    void CopySettings(const CDialerProfile& other);

    // --- Line ------------------------------------------------------------------------------
    std::string GetStatusText() const;
    DWORD GetLineState() const;
    // Formats a new status text (cut to 255 characters). Unchanged text does nothing; a new
    // one is kept, logged as "Name: text" (debug) and sent to every console with the line
    // state.
    void SetStatus(const char* format, ...) NV_PRINTF_FORMAT(2, 3);
    // A console's copy takes the status text the engine reports (cut to 255 characters):
    // nothing is logged or told.
    void StoreStatusText(const std::string& text);
    void Dial();
    void HangUp();
    void Reset();
    BOOL IsOnLine();
    void CheckIdle();
    // Applies one event of this profile's dial in progress (on the dialer thread): the status
    // text of the event. True when the event ends the dial.
    bool ApplyDialEvent(HRASCONN connection, DWORD state, DWORD error);

    // --- Filter component ------------------------------------------------------------------
    // "Account <Username> at <ProfileName> " followed by "(disabled)" when AutoConnect is
    // clear; also stored as Description. For profiles no other thread knows.
    std::string GetDescriptionText() override;
    // Loading reads the whole form aside and changes the profile only when all of it was read.
    void Serialize(CArchive& ar) override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;

private:
    // The dialer of the engine this profile serves.
    static CDialer& Dialer();
    // HangUp (reset false) and Reset (true) without the dial-done test.
    void EndConnection(bool reset);
    void SetLineState(DWORD lineState);
    HRASCONN GetHandle() const;
    void SetHandle(HRASCONN handle);
    void SetDialling(bool dialling);
    bool IsDialling() const;

    mutable std::mutex m_mutex;  // leaf
    Settings m_settings;
    CRight m_accessRights;
    std::string m_statusText;
    DWORD m_lineState = 0;
    bool m_dialDone = false;   // a dial sequence ran since the last hang-up
    bool m_dialling = false;   // a dial-up call of this profile is under way
    HRASCONN m_handle = 0;     // the connection found or made for ProfileName
    RASCONNSTATUSA m_status{};  // the last status query's answer
    bool m_idleArmed = false;
    std::uint64_t m_idleDeadline = 0;  // milliseconds of the monotonic clock
};
