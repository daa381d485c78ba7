#pragma once
// An event record: a value and a text with the time it was made. Known to run-time checks
// only; it is never created by name and never travels in an archive.

#include "platform/framework/Object.h"

#include <cstdint>
#include <ctime>
#include <string>

class CNVEvent : public CObject {
    DECLARE_DYNAMIC(CNVEvent)
public:
    // Value 0, empty text, time stamp now.
    CNVEvent();
    // The value and text given, time stamp now. The first argument is not used.
    CNVEvent(const CObject* source, std::int32_t value, std::string text);

    std::int32_t GetValue() const { return m_value; }
    const std::string& GetText() const { return m_text; }
    // Seconds since 1970 when the record was made.
    std::time_t GetTime() const { return m_time; }
    // Two further texts of the record; no constructor sets them.
    const std::string& GetFirstExtra() const { return m_extra1; }
    const std::string& GetSecondExtra() const { return m_extra2; }

private:
    std::string m_extra1;
    std::string m_extra2;
    std::int32_t m_value = 0;
    std::string m_text;
    std::time_t m_time;
};
