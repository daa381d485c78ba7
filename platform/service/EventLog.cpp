#include "platform/service/EventLog.h"

#include "platform/kernel/Clock.h"
#include "platform/service/LogSink.h"
#include "platform/service/ServiceTypes.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <syslog.h>
#include <unistd.h>

struct EventSourceObject {
    std::string name;
};

namespace {

// Insertion strings and finished texts are cut here, so one event never makes an unbounded
// line.
constexpr std::size_t kMaxEventText = 8192;

struct EventLogState {
    std::mutex mutex;
    std::map<DWORD, std::string> table;
    std::set<EventSourceObject*> sources;

    // Never destroyed: events may be reported while static objects are torn down.
    static EventLogState& Get() {
        static EventLogState* state = new EventLogState;
        return *state;
    }
};

int SyslogPriority(WORD type) {
    switch (type) {
    case EVENTLOG_ERROR_TYPE:
        return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
    case EVENTLOG_AUDIT_FAILURE:
        return LOG_WARNING;
    case EVENTLOG_AUDIT_SUCCESS:
        return LOG_NOTICE;
    default:
        return LOG_INFO;
    }
}

}  // namespace

void RegisterEventMessageTable(const EventMessage* entries, std::size_t count) {
    std::map<DWORD, std::string> table;
    for (std::size_t i = 0; i < count; ++i)
        table[entries[i].id] = entries[i].text ? entries[i].text : "";
    EventLogState& state = EventLogState::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.table = std::move(table);
}

std::string SubstituteInsertions(const std::string& text, const std::vector<std::string>& strings) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() < kMaxEventText; ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char next = text[i + 1];
        if (next == '%') {
            out += '%';
            ++i;
            continue;
        }
        if (next < '1' || next > '9') {
            out += '%';
            continue;
        }
        std::size_t number = static_cast<std::size_t>(next - '0');
        std::size_t digits = 1;
        if (i + 2 < text.size() && text[i + 2] >= '0' && text[i + 2] <= '9') {
            number = number * 10 + static_cast<std::size_t>(text[i + 2] - '0');
            digits = 2;
        }
        if (number <= strings.size())
            out += strings[number - 1];
        else
            out.append(text, i, digits + 1);  // no such string: the marker stays as written
        i += digits;
    }
    if (out.size() > kMaxEventText)
        out.resize(kMaxEventText);
    return out;
}

std::string FormatEventText(DWORD eventId, const std::vector<std::string>& strings) {
    std::string text;
    bool found = false;
    {
        EventLogState& state = EventLogState::Get();
        std::lock_guard<std::mutex> lock(state.mutex);
        auto it = state.table.find(eventId);
        if (it != state.table.end()) {
            text = it->second;
            found = true;
        }
    }
    if (!found) {
        text = "Event " + std::to_string(eventId);
        for (const std::string& s : strings)
            text += ": " + s;
        if (text.size() > kMaxEventText)
            text.resize(kMaxEventText);
        return text;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return SubstituteInsertions(text, strings);
}

const char* EventTypeName(WORD type) {
    switch (type) {
    case EVENTLOG_SUCCESS:
        return "Success";
    case EVENTLOG_ERROR_TYPE:
        return "Error";
    case EVENTLOG_WARNING_TYPE:
        return "Warning";
    case EVENTLOG_INFORMATION_TYPE:
        return "Information";
    case EVENTLOG_AUDIT_SUCCESS:
        return "Audit Success";
    case EVENTLOG_AUDIT_FAILURE:
        return "Audit Failure";
    default:
        return "";
    }
}

EVENTSOURCE_HANDLE RegisterEventSource(const char* server, const char* sourceName) {
    if (server != nullptr || sourceName == nullptr || *sourceName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    for (const char* c = sourceName; *c; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
    }
    auto* source = new EventSourceObject{sourceName};
    EventLogState& state = EventLogState::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.sources.insert(source);
    return source;
}

BOOL DeregisterEventSource(EVENTSOURCE_HANDLE source) {
    EventLogState& state = EventLogState::Get();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.sources.erase(source)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete source;
    return TRUE;
}

BOOL ReportEvent(EVENTSOURCE_HANDLE source, WORD type, WORD /*category*/, DWORD eventId,
                 const void* /*userSid*/, WORD numStrings, DWORD /*dataSize*/,
                 const char* const* strings, const void* /*rawData*/) {
    const char* typeName = EventTypeName(type);
    if (*typeName == '\0' || (numStrings > 0 && strings == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string sourceName;
    {
        EventLogState& state = EventLogState::Get();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.sources.count(source)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        sourceName = source->name;
    }
    std::vector<std::string> inserts;
    for (WORD i = 0; i < numStrings; ++i) {
        std::string s = strings[i] ? strings[i] : "";
        if (s.size() > kMaxEventText)
            s.resize(kMaxEventText);
        inserts.push_back(std::move(s));
    }
    const std::string text = OneLine(FormatEventText(eventId, inserts));

    SyslogWrite(sourceName, SyslogPriority(type), text);
    const char* file = std::getenv(kEventLogFileVariable);
    if (file && *file)
        AppendLineToFile(file, LocalTimeStamp(false) + "\t" + sourceName + "[" +
                                   std::to_string(getpid()) + "]\t" + typeName + "\t" +
                                   std::to_string(eventId) + "\t" + text + "\n");
    return TRUE;
}
