#pragma once
// A user account of the user database: its password, usage counters, charging rates and
// balances, account flags and audit settings.
//
// Fields (defaults): Name, Description, RealName, Password (all ""); five 32-bit usage
// counters (0): ClientSendTraffic (bytes sent to the client), ClientRecvTraffic (bytes
// received from it), NonClientSendTraffic and NonClientRecvTraffic (bytes sent and received
// on its behalf), TimeOnLine (seconds); seven amounts (0, valid): the rates per MiB of each
// byte counter and TimeRate per hour on line, OpeningBalance, and ClosingBalance, which is
// OpeningBalance less the charges (UpdateBalance); AccountEnabled (1), UserCannotChangePassword,
// UserMustChangePassword, AuditUser (0) and the AuditOptions mask (0). The password is plain
// text in memory; it is scrambled (foundation/Scrambler.h) on a copy whenever it is stored
// or sent, and may hold any byte, NUL included.
//
// Charges: a byte counter c is taken as n = c × 10000 / 1048576 ten-thousandths of a MiB and
// the time as n = seconds × 10000 / 3600 ten-thousandths of an hour, each truncated; the
// charge is rate × n ÷ 10000 in exact currency arithmetic (foundation/Currency.h). The
// console's accounting page computes its subtotals with the same functions.
//
// Registry form (engine/access/AccessFormat.h): Name, Description, "Type" = "User",
// "RealName", "Password" (scrambled), the statistics (SaveStatistics: the five counters and
// both balances), the five rates, the flags. Amounts are stored as two DWORDs, <name>Hi and
// <name>Lo, and are valid when loaded. Loading takes every value with its default.
//
// Archive form: Name, Description, RealName, Password (scrambled), the five counters, the
// seven amounts (status, high half, low half), AccountEnabled, UserCannotChangePassword,
// UserMustChangePassword, AuditUser, AuditOptions (4 bytes each). A load reads everything
// aside and changes the user only when the whole record was read.
//
// Audit file: while AuditUser is set, OpenAuditFile opens "<AuditDirectory>/<Name>.log"
// (engine/LogFile.h), which the audit lines of the user's sessions are appended to through the
// log manager. The user holds one reference to the open file, and each queued line another,
// so closing or reopening the file never cuts off a line already queued.
//
// Locking: none of its own for the account fields. A user in the engine's database is read
// and changed only under the database lock (engine/access/GroupMemberDatabase.h); a user
// outside it belongs to one thread (a console dialog's working copy, a received record). The
// audit file reference has a small lock of its own, so that it is never read half-changed.

#include "engine/LogFile.h"
#include "engine/access/FilterComponent.h"
#include "foundation/Currency.h"
#include "platform/kernel/Types.h"

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>

class CUser : public CFilterComponent {
    DECLARE_SERIAL(CUser)
public:
    // The usage counters, in the order of the archive form.
    enum Counter : std::size_t {
        ClientSendTraffic,
        ClientRecvTraffic,
        NonClientSendTraffic,
        NonClientRecvTraffic,
        TimeOnLine,
        kCounterCount
    };
    // The amounts, in the order of the archive form. The rate of byte counter i is amount i.
    enum Amount : std::size_t {
        ClientSendTrafficRate,
        ClientRecvTrafficRate,
        NonClientSendTrafficRate,
        NonClientRecvTrafficRate,
        TimeRate,
        OpeningBalance,
        ClosingBalance,
        kAmountCount
    };

    CUser();
    CUser(std::string name, std::string realName, std::string password, std::string description);
    CUser(const CUser&) = delete;
    CUser& operator=(const CUser&) = delete;

    // Becomes a copy of every field of `other` (the audit file excepted: this user keeps its
    // own).
    void Copy(const CUser& other);

    const std::string& GetRealName() const { return m_account.realName; }
    void SetRealName(std::string realName) { m_account.realName = std::move(realName); }
    const std::string& GetPassword() const { return m_account.password; }
    void SetPassword(std::string password) { m_account.password = std::move(password); }

    DWORD GetCounter(Counter counter) const { return m_account.counters[counter]; }
    void SetCounter(Counter counter, DWORD value) { m_account.counters[counter] = value; }
    // Adds a finished session's usage: its four byte counters in counter order and its
    // seconds. A counter that would pass 0xFFFFFFFF stays there instead of wrapping to a
    // small number (which would wipe the user's charges).
    void AddUsage(DWORD clientSent, DWORD clientReceived, DWORD nonClientSent,
                  DWORD nonClientReceived, DWORD seconds);

    const CCurrency& GetAmount(Amount amount) const { return m_account.amounts[amount]; }
    void SetAmount(Amount amount, const CCurrency& value) { m_account.amounts[amount] = value; }

    BOOL GetAccountEnabled() const { return m_account.accountEnabled; }
    void SetAccountEnabled(BOOL enabled) { m_account.accountEnabled = enabled; }
    BOOL GetUserCannotChangePassword() const { return m_account.userCannotChangePassword; }
    void SetUserCannotChangePassword(BOOL flag) { m_account.userCannotChangePassword = flag; }
    BOOL GetUserMustChangePassword() const { return m_account.userMustChangePassword; }
    void SetUserMustChangePassword(BOOL flag) { m_account.userMustChangePassword = flag; }
    BOOL GetAuditUser() const { return m_account.auditUser; }
    void SetAuditUser(BOOL flag) { m_account.auditUser = flag; }
    DWORD GetAuditOptions() const { return m_account.auditOptions; }
    void SetAuditOptions(DWORD options) { m_account.auditOptions = options; }

    // Closes the audit file if open; then, while AuditUser is set, opens it (creating the
    // audit folder and the file as needed). When it cannot be opened, AuditUser is cleared and
    // no file is held. The registry root must be set.
    void OpenAuditFile();
    void CloseAuditFile();
    // The open audit file, or null.
    CLogFileRef GetAuditFile() const;

    // The charge rule (see the top of this file).
    static CCurrency TrafficCharge(const CCurrency& ratePerMiB, DWORD bytes);
    static CCurrency TimeCharge(const CCurrency& ratePerHour, DWORD seconds);
    // The sum of the five charges of the current counters and rates.
    CCurrency GetTotalCharges() const;
    // Recomputes ClosingBalance = OpeningBalance - total charges. Invalid when an operand is
    // or the result does not fit.
    void UpdateBalance();

    void Serialize(CArchive& ar) override;
    // TRUE when the name matches exactly (case-sensitive).
    BOOL ContainsUser(const std::string& userName) const override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    // Writes the five counters and both balances; TRUE when every value was stored.
    virtual BOOL SaveStatistics(const std::string& keyPath) const;

private:
    // Everything but Name, Description and the audit file, as one value, so that loads can
    // read it aside and assign it whole.
    struct Account {
        std::string realName;
        std::string password;
        std::array<DWORD, kCounterCount> counters{};
        std::array<CCurrency, kAmountCount> amounts{};
        BOOL accountEnabled = TRUE;
        BOOL userCannotChangePassword = FALSE;
        BOOL userMustChangePassword = FALSE;
        BOOL auditUser = FALSE;
        DWORD auditOptions = 0;
    };

    Account m_account;
    mutable std::mutex m_auditMutex;
    CLogFileRef m_auditFile;
};
