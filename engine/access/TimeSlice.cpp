#include "engine/access/TimeSlice.h"

#include "engine/access/AccessFormat.h"
#include "engine/access/AccessTexts.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"

#include <optional>

IMPLEMENT_SERIAL(CTimeSlice, CFilterComponent, 1)

namespace {

// The second of the day (0-86399) of a value's moment.
std::optional<std::int64_t> SecondOfDay(const CDateTime& value) {
    const std::optional<std::int64_t> seconds = value.GetLinearSeconds();
    if (!seconds)
        return std::nullopt;
    const std::int64_t ofDay = *seconds % CDateTime::kSecondsPerDay;
    return ofDay < 0 ? ofDay + CDateTime::kSecondsPerDay : ofDay;
}

std::string DayPart(DWORD mask) {
    switch (mask) {
        case CTimeSlice::kEveryDay:
            return AccessTexts::kEveryDay;
        case CTimeSlice::kWeekdays:
            return AccessTexts::kEveryWeekday;
        case CTimeSlice::kWeekend:
            return AccessTexts::kEveryWeekend;
        default:
            break;
    }
    std::string letters;
    for (const AccessTexts::DayLetter& day : AccessTexts::kDayLetters) {
        if (mask & (1u << day.bit))
            letters += day.letter;
    }
    return letters;
}

}  // namespace

CTimeSlice::CTimeSlice() : CTimeSlice(kEveryDay) {}

CTimeSlice::CTimeSlice(DWORD dayMask)
    : m_every(1), m_checkTime(0), m_everyWhat(dayMask), m_startTime(CDateTime::Now()),
      m_endTime(m_startTime) {}

CTimeSlice::CTimeSlice(DWORD dayMask, const CDateTime& start, const CDateTime& end)
    : m_every(1), m_checkTime(1), m_everyWhat(dayMask), m_startTime(start.GetTimeOfDay()),
      m_endTime(end.GetTimeOfDay()) {}

CTimeSlice::CTimeSlice(const CDateTime& start, const CDateTime& end)
    : m_every(0), m_checkTime(1), m_everyWhat(0), m_startTime(start), m_endTime(end) {}

void CTimeSlice::Copy(const CTimeSlice& other) {
    CopyBase(other);
    m_every = other.m_every;
    m_checkTime = other.m_checkTime;
    m_everyWhat = other.m_everyWhat;
    m_startTime = other.m_startTime;
    m_endTime = other.m_endTime;
}

BOOL CTimeSlice::Includes(const CDateTime& moment) const {
    std::optional<std::int64_t> value, start, end;
    if (m_every) {
        const int weekday = moment.GetDayOfWeek();  // 1 = Sunday; 0: no moment
        if (weekday == 0 || !(m_everyWhat & (1u << (weekday - 1))))
            return FALSE;
        value = SecondOfDay(moment);
        start = SecondOfDay(m_startTime);
        end = SecondOfDay(m_endTime);
    } else {
        value = moment.GetLinearSeconds();
        start = m_startTime.GetLinearSeconds();
        end = m_endTime.GetLinearSeconds();
    }
    if (!value)
        return FALSE;
    if (m_checkTime) {
        if (!start || !end || *value > *end || *value < *start)
            return FALSE;
    }
    return TRUE;
}

std::string CTimeSlice::GetDescriptionText() {
    std::string text;
    if (m_every) {
        text = AccessTexts::kEvery + DayPart(m_everyWhat);
        if (m_checkTime) {
            text += AccessTexts::kFrom + m_startTime.Format(AccessTexts::kTimeFormat) +
                    AccessTexts::kTo + m_endTime.Format(AccessTexts::kTimeFormat);
        }
    } else {
        text = AccessTexts::kOneOffFrom + m_startTime.Format(AccessTexts::kDateTimeFormat) +
               AccessTexts::kTo + m_endTime.Format(AccessTexts::kDateTimeFormat);
    }
    SetDescription(text);
    return text;
}

BOOL CTimeSlice::SaveToRegistry(const std::string& keyPath) const {
    using namespace AccessFormat;
    return CFilterComponent::SaveToRegistry(keyPath) && RegWriteDWORD(keyPath, kEvery, m_every) &&
                   RegWriteDWORD(keyPath, kCheckTime, m_checkTime) &&
                   RegWriteDWORD(keyPath, kEveryWhat, m_everyWhat) &&
                   RegWriteDouble(keyPath, kStartTime, m_startTime.GetDays()) &&
                   RegWriteDouble(keyPath, kEndTime, m_endTime.GetDays())
               ? TRUE
               : FALSE;
}

void CTimeSlice::LoadFromRegistry(const std::string& keyPath) {
    using namespace AccessFormat;
    CFilterComponent::LoadFromRegistry(keyPath);
    m_every = RegReadDWORD(keyPath, kEvery, 1);
    m_checkTime = RegReadDWORD(keyPath, kCheckTime, 0);
    m_everyWhat = RegReadDWORD(keyPath, kEveryWhat, kEveryDay);
    m_startTime = CDateTime(RegReadDouble(keyPath, kStartTime, 0.0), CDateTime::valid);
    m_endTime = CDateTime(RegReadDouble(keyPath, kEndTime, 0.0), CDateTime::valid);
}

void CTimeSlice::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        StoreBase(ar);
        ar << m_every << m_checkTime << m_everyWhat << m_startTime << m_endTime;
        return;
    }
    std::string name, description;
    DWORD every = 0, checkTime = 0, everyWhat = 0;
    CDateTime start, end;
    LoadBase(ar, name, description);
    ar >> every >> checkTime >> everyWhat >> start >> end;
    SetName(std::move(name));
    SetDescription(std::move(description));
    m_every = every;
    m_checkTime = checkTime;
    m_everyWhat = everyWhat;
    m_startTime = start;
    m_endTime = end;
}
