#include "engine/LogWriters.h"

#include "engine/LogFormat.h"
#include "engine/LogEntry.h"
#include "engine/LogManager.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>

using namespace LogFormat;

namespace {

// Assembles one line within the limit at the end of `out`: whole units only (a character, or
// one "\xHH"), so a cut never splits an escape; the CR LF always fits.
class LineBuilder {
public:
    explicit LineBuilder(std::string& out) : m_line(out), m_start(out.size()) {}

    void Literal(std::string_view text) { Plain(text); }

    void Field(std::string_view text) {
        while (!text.empty() && !m_full) {
            std::size_t plain = 0;
            while (plain < text.size() && !IsControl(text[plain]))
                ++plain;
            if (!Plain(text.substr(0, plain)) || plain == text.size())
                return;
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, kControlEscape,
                          static_cast<unsigned char>(text[plain]));
            if (!Unit(escaped))
                return;
            text.remove_prefix(plain + 1);
        }
    }

    void Finish() { m_line += kLineEnd; }

private:
    static constexpr std::size_t kContentLimit = kLineLimit - 2;

    static bool IsControl(char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    }

    // Characters that are each a unit of their own: as many as fit.
    bool Plain(std::string_view text) {
        if (m_full)
            return false;
        const std::size_t room = kContentLimit - Length();
        if (text.size() > room) {
            m_line.append(text.substr(0, room));
            m_full = true;
            return false;
        }
        m_line.append(text);
        return true;
    }

    bool Unit(std::string_view unit) {
        if (m_full || Length() + unit.size() > kContentLimit) {
            m_full = true;
            return false;
        }
        m_line.append(unit);
        return true;
    }

    std::size_t Length() const { return m_line.size() - m_start; }

    std::string& m_line;
    const std::size_t m_start;
    bool m_full = false;
};

const LogLineForm* FindForm(std::span<const LogLineForm> forms, DWORD bit) {
    for (const LogLineForm& form : forms)
        if (form.bit == bit)
            return &form;
    return nullptr;
}

std::string Number(const char* format, DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
    return text;
}

std::string TrafficText(const LogTraffic& t) {
    char text[64];
    std::snprintf(text, sizeof text, kTrafficFields, static_cast<unsigned>(t.clientSent),
                  static_cast<unsigned>(t.clientReceived), static_cast<unsigned>(t.remoteSent),
                  static_cast<unsigned>(t.remoteReceived), static_cast<unsigned>(t.seconds));
    return text;
}

// Writes the line's label and field after the subject's fields.
void FinishLine(LineBuilder& line, const LogLineForm& form, const SessionLogFields* session,
                std::string_view message) {
    line.Literal(form.label);
    switch (form.field) {
    case LogField::kNone: break;
    case LogField::kText: line.Field(message); break;
    case LogField::kDescription:
        if (session)
            line.Field(session->description);
        break;
    case LogField::kTraffic:
        if (session)
            line.Literal(TrafficText(session->traffic));
        break;
    }
    line.Finish();
}

// Appends to `out`: "time \t" then, for a session, "client \t [user \t] session \t", then the
// event's label and field.
void AppendLine(std::string& out, const LogLineForm& form, std::string_view timeStamp,
                const SessionLogFields* session, bool withUser, std::string_view message) {
    LineBuilder line(out);
    line.Field(timeStamp);
    line.Literal(kFieldSeparator);
    if (session) {
        line.Field(session->clientAddress);
        line.Literal(kFieldSeparator);
        if (withUser) {
            line.Field(session->userName);
            line.Literal(kFieldSeparator);
        }
        line.Literal(Number(kSessionNumber, session->sessionId));
        line.Literal(kFieldSeparator);
    }
    FinishLine(line, form, session, message);
}

// The line alone; empty when `forms` has none for the bit.
std::string BuildLine(std::span<const LogLineForm> forms, DWORD bit, std::string_view timeStamp,
                      const SessionLogFields* session, bool withUser, std::string_view message) {
    std::string line;
    if (const LogLineForm* form = FindForm(forms, bit)) {
        line.reserve(256);
        AppendLine(line, *form, timeStamp, session, withUser, message);
    }
    return line;
}

// The bit has a line in `forms`, it is chosen in `options`, and there is a file to write to.
bool Wanted(std::span<const LogLineForm> forms, const CLogFileRef& file, DWORD options, DWORD bit) {
    return file && (options & bit) == bit && FindForm(forms, bit) != nullptr;
}

}  // namespace

namespace {

// The current time stamp, valid on the calling thread until its next call. Busy services write
// many lines a second: each thread makes the text once a second.
std::string_view CurrentTimeStamp() {
    thread_local std::time_t stampedSecond = -1;
    thread_local std::string stamp;
    const std::time_t second = std::time(nullptr);
    if (second != stampedSecond) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        stamp = LogTimeStamp(now);
        stampedSecond = second;
    }
    return stamp;
}

}  // namespace

std::string LogTimeStamp() { return std::string(CurrentTimeStamp()); }

std::string LogTimeStamp(const SYSTEMTIME& time) {
    char text[48];
    std::snprintf(text, sizeof text, kTimeStamp, static_cast<unsigned>(time.wMonth),
                  static_cast<unsigned>(time.wDay), static_cast<unsigned>(time.wYear % 100),
                  static_cast<unsigned>(time.wHour), static_cast<unsigned>(time.wMinute),
                  static_cast<unsigned>(time.wSecond));
    return text;
}

std::string BuildServiceLogLine(DWORD eventBit, std::string_view timeStamp, std::string_view message) {
    return BuildLine(kServiceLines, eventBit, timeStamp, nullptr, false, message);
}

std::string BuildDialerLogLine(DWORD type, std::string_view timeStamp, std::string_view message) {
    return BuildLine(kDialerLines, type, timeStamp, nullptr, false, message);
}

std::string BuildSessionLogLine(DWORD eventBit, std::string_view timeStamp,
                                const SessionLogFields& session, std::string_view message) {
    return BuildLine(kSessionLines, eventBit, timeStamp, &session, true, message);
}

std::string BuildAuditLogLine(DWORD eventBit, std::string_view timeStamp,
                              const SessionLogFields& session, std::string_view message) {
    return BuildLine(kAuditLines, eventBit, timeStamp, &session, false, message);
}

static_assert(kMessageBuffer == 2048, "engine/LogWriters.h names the buffer's size");

std::string_view FormatLogMessageInto(std::span<char, kMessageBuffer> buffer, const char* format,
                                      va_list args) {
    std::string_view message;
    if (std::strcmp(format, "%s") == 0) {
        // Most lines pass their text as it is: no formatting and no copy needed.
        const char* text = va_arg(args, const char*);
        message = text != nullptr ? text : "(null)";
        message = message.substr(0, kMessageBuffer - 1);
    } else {
        int length = std::vsnprintf(buffer.data(), buffer.size(), format, args);
        if (length < 0)
            return {};
        message = std::string_view(buffer.data(),
                                   std::min<std::size_t>(static_cast<std::size_t>(length), buffer.size() - 1));
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.remove_suffix(1);
    return message;
}

std::string FormatLogMessageV(const char* format, va_list args) {
    std::array<char, kMessageBuffer> buffer;
    return std::string(FormatLogMessageInto(buffer, format, args));
}

namespace {

// The writers' common path: nothing unless the line is wanted; else the message, the line for
// the current time, and the post.
template <class Build>
BOOL PostLine(CLogManager& manager, std::span<const LogLineForm> forms, const CLogFileRef& file,
              DWORD options, DWORD bit, const char* format, va_list args, Build build) {
    if (!Wanted(forms, file, options, bit))
        return FALSE;
    std::string message = FormatLogMessageV(format, args);
    return manager.PostLogEntry(file, build(CurrentTimeStamp(), message));
}

// A session or audit line as its fields, copied when it is posted into the entry's own
// storage (the texts follow the object in its one block); its text is made on the log thread,
// where it is written.
class CSessionLineEntry final : public CLogEntry {
public:
    static std::unique_ptr<CLogEntry> Make(CLogFileRef file, const LogLineForm& form,
                                           bool audit, const SessionLogFields& session,
                                           std::string_view message) {
        // Only what the line shows is kept.
        const std::string_view stamp = CurrentTimeStamp();
        const std::string_view user = audit ? std::string_view() : session.userName;
        const std::string_view description =
            form.field == LogField::kDescription ? session.description : std::string_view();
        if (form.field != LogField::kText)
            message = {};
        const std::size_t texts =
            stamp.size() + session.clientAddress.size() + user.size() + description.size() + message.size();
        void* block = LogEntryMemory::Allocate(sizeof(CSessionLineEntry) + texts);
        return std::unique_ptr<CLogEntry>(new (block) CSessionLineEntry(
            std::move(file), form, audit, session, {stamp, session.clientAddress, user, description, message}));
    }

    // The block holds the texts' room after the object.
    static void operator delete(void* block) { LogEntryMemory::Free(block); }

    void AppendTextTo(std::string& out) const override {
        std::array<std::string_view, kTexts> texts;
        const char* at = Storage();
        for (std::size_t i = 0; i < kTexts; ++i) {
            texts[i] = std::string_view(at, m_lengths[i]);
            at += m_lengths[i];
        }
        SessionLogFields fields;
        fields.clientAddress = texts[kAddress];
        fields.userName = texts[kUser];
        fields.sessionId = m_sessionId;
        fields.description = texts[kDescription];
        fields.traffic = m_traffic;
        AppendLine(out, m_form, texts[kStamp], &fields, !m_audit, texts[kMessage]);
    }

protected:
    void Compose(std::string* text) const override { AppendTextTo(*text); }

private:
    enum { kStamp, kAddress, kUser, kDescription, kMessage, kTexts };

    CSessionLineEntry(CLogFileRef file, const LogLineForm& form, bool audit,
                      const SessionLogFields& session,
                      const std::array<std::string_view, kTexts>& texts)
        : CLogEntry(std::move(file)), m_form(form), m_audit(audit), m_sessionId(session.sessionId),
          m_traffic(session.traffic) {
        char* at = Storage();
        for (std::size_t i = 0; i < kTexts; ++i) {
            m_lengths[i] = static_cast<std::uint32_t>(texts[i].size());
            at = std::copy(texts[i].begin(), texts[i].end(), at);
        }
    }

    char* Storage() const { return reinterpret_cast<char*>(const_cast<CSessionLineEntry*>(this) + 1); }

    const LogLineForm& m_form;  // a row of the static tables
    const bool m_audit;
    const DWORD m_sessionId;
    const LogTraffic m_traffic;
    std::array<std::uint32_t, kTexts> m_lengths{};
};

BOOL PostSessionLine(CLogManager& manager, std::span<const LogLineForm> forms, bool audit,
                     const CLogFileRef& file, DWORD options, DWORD bit,
                     const SessionLogFields& session, const char* format, va_list args) {
    if (!Wanted(forms, file, options, bit))
        return FALSE;
    std::array<char, kMessageBuffer> buffer;
    return manager.PostLogEntry(CSessionLineEntry::Make(file, *FindForm(forms, bit), audit, session,
                                                        FormatLogMessageInto(buffer, format, args)));
}

}  // namespace

const LogLineForm* FindSessionLineForm(DWORD eventBit) { return FindForm(kSessionLines, eventBit); }

const LogLineForm* FindAuditLineForm(DWORD eventBit) { return FindForm(kAuditLines, eventBit); }

std::unique_ptr<CLogEntry> MakeSessionLogEntry(CLogFileRef file, const LogLineForm& form,
                                               const SessionLogFields& session, std::string_view message) {
    return CSessionLineEntry::Make(std::move(file), form, false, session, message);
}

std::unique_ptr<CLogEntry> MakeAuditLogEntry(CLogFileRef file, const LogLineForm& form,
                                             const SessionLogFields& session, std::string_view message) {
    return CSessionLineEntry::Make(std::move(file), form, true, session, message);
}

BOOL PostServiceLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options,
                         DWORD eventBit, const char* format, va_list args) {
    return PostLine(manager, kServiceLines, file, options, eventBit, format, args,
                    [&](std::string_view stamp, std::string_view message) {
                        return BuildServiceLogLine(eventBit, stamp, message);
                    });
}

BOOL PostSessionLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options,
                         DWORD eventBit, const SessionLogFields& session, const char* format,
                         va_list args) {
    return PostSessionLine(manager, kSessionLines, false, file, options, eventBit, session,
                           format, args);
}

BOOL PostAuditLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options,
                       DWORD eventBit, const SessionLogFields& session, const char* format,
                       va_list args) {
    return PostSessionLine(manager, kAuditLines, true, file, options, eventBit, session, format,
                           args);
}

BOOL PostDialerLogLineV(CLogManager& manager, const CLogFileRef& file, DWORD options, DWORD type,
                        const char* format, va_list args) {
    return PostLine(manager, kDialerLines, file, options, type, format, args,
                    [&](std::string_view stamp, std::string_view message) {
                        return BuildDialerLogLine(type, stamp, message);
                    });
}

#define NV_FORWARD_VARIADIC(call) \
    va_list args;                 \
    va_start(args, format);       \
    BOOL posted = call;           \
    va_end(args);                 \
    return posted;

BOOL PostServiceLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options,
                        DWORD eventBit, const char* format, ...) {
    NV_FORWARD_VARIADIC(PostServiceLogLineV(manager, file, options, eventBit, format, args))
}

BOOL PostSessionLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options,
                        DWORD eventBit, const SessionLogFields& session, const char* format, ...) {
    NV_FORWARD_VARIADIC(PostSessionLogLineV(manager, file, options, eventBit, session, format, args))
}

BOOL PostAuditLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options,
                      DWORD eventBit, const SessionLogFields& session, const char* format, ...) {
    NV_FORWARD_VARIADIC(PostAuditLogLineV(manager, file, options, eventBit, session, format, args))
}

BOOL PostDialerLogLine(CLogManager& manager, const CLogFileRef& file, DWORD options, DWORD type,
                       const char* format, ...) {
    NV_FORWARD_VARIADIC(PostDialerLogLineV(manager, file, options, type, format, args))
}
