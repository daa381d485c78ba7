#pragma once
// One window of time: recurring (on chosen days of the week, optionally between two times of
// day) or one-off (between two date-times). Time filters hold lists of them.
//
// Fields:
//   Every      non-zero: recurring; zero: one-off.
//   CheckTime  non-zero: the bounds are tested; zero: a recurring slice covers its whole days,
//              a one-off slice every moment.
//   EveryWhat  day mask, bit 0 Sunday, bit 1 Monday ... bit 6 Saturday (kEveryDay 127,
//              kWeekdays 62, kWeekend 65); higher bits mean nothing.
//   StartTime, EndTime  date-times (foundation/DateTime.h). A recurring slice uses only their
//              time of day, and keeps them on 1899-12-30.
//
// Includes(moment), the time test:
//   1. recurring: FALSE unless the moment's weekday is in EveryWhat; the value compared is the
//      moment's time of day. One-off: the value is the moment itself.
//   2. with CheckTime: FALSE when the value is later than EndTime or earlier than StartTime;
//      both bounds are inclusive, and compare in whole seconds (17:00:00 is inside a window
//      that ends at 17:00, 17:00:01 is not).
//   3. otherwise TRUE.
// A recurring window never wraps over midnight: EndTime before StartTime covers nothing
// (22:00-06:00 includes no moment). A moment, or with CheckTime a bound, that has no moment
// (an invalid status, a value out of range) is included by nothing.
//
// GetDescriptionText builds the console's text into Description and returns it:
// "Every day", "Every weekday", "Every weekend", or "Every " + the letters of the set days
// ("Every MWF" for 42), with " from <start> to <end>" in the locale's time form when CheckTime
// is set; a one-off slice gives "From <start> to <end>" in the locale's date and time form
// (texts in engine/access/AccessTexts.h).
//
// Registry form: the base's Name and Description, DWORDs "Every", "CheckTime", "EveryWhat",
// then "StartTime" and "EndTime" as 8-byte doubles; loaded with defaults 1, 0, 127, 0.0, 0.0
// and both times marked valid. Archive form: the base fields, Every, CheckTime, EveryWhat
// (4 bytes each), StartTime, EndTime (each a 4-byte status and an 8-byte double). A load that
// fails leaves the slice as it was.
//
// No lock of its own: a slice changes only while it is not shared (being edited or loaded).

#include "engine/access/FilterComponent.h"
#include "foundation/DateTime.h"
#include "platform/kernel/Types.h"

#include <string>

class CTimeSlice : public CFilterComponent {
    DECLARE_SERIAL(CTimeSlice)
public:
    static constexpr DWORD kEveryDay = 127;
    static constexpr DWORD kWeekdays = 62;
    static constexpr DWORD kWeekend = 65;

    // Recurring on every day, all day; both times the current moment.
    CTimeSlice();
    // Recurring on the days of `dayMask`, all day; both times the current moment.
    explicit CTimeSlice(DWORD dayMask);
    // Recurring on the days of `dayMask` between the times of day of `start` and `end`.
    CTimeSlice(DWORD dayMask, const CDateTime& start, const CDateTime& end);
    // One-off, between `start` and `end` as given.
    CTimeSlice(const CDateTime& start, const CDateTime& end);

    DWORD GetEvery() const { return m_every; }
    void SetEvery(DWORD every) { m_every = every; }
    DWORD GetCheckTime() const { return m_checkTime; }
    void SetCheckTime(DWORD checkTime) { m_checkTime = checkTime; }
    DWORD GetEveryWhat() const { return m_everyWhat; }
    void SetEveryWhat(DWORD dayMask) { m_everyWhat = dayMask; }
    const CDateTime& GetStartTime() const { return m_startTime; }
    void SetStartTime(const CDateTime& start) { m_startTime = start; }
    const CDateTime& GetEndTime() const { return m_endTime; }
    void SetEndTime(const CDateTime& end) { m_endTime = end; }

    // Copies Name, Description, Every, CheckTime, EveryWhat, StartTime and EndTime.
    void Copy(const CTimeSlice& other);

    void Serialize(CArchive& ar) override;
    std::string GetDescriptionText() override;
    BOOL SaveToRegistry(const std::string& keyPath) const override;
    void LoadFromRegistry(const std::string& keyPath) override;
    virtual BOOL Includes(const CDateTime& moment) const;

private:
    DWORD m_every = 1;
    DWORD m_checkTime = 0;
    DWORD m_everyWhat = kEveryDay;
    CDateTime m_startTime;
    CDateTime m_endTime;
};
