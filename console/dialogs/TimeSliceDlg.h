#pragma once
// CTimeSliceDlg (dialog 159, "Time Slice"): makes or edits one time slice.
//
// Controls: radios 1122 "Regular Occurence" / 1161 "Single Occurence" (index 0 for a recurring
// slice, Every non-zero); the day boxes 1160 Sunday (bit 0 of EveryWhat), 1154 Monday (bit 1)
// ... 1159 Saturday (bit 6); radios 1110 "All Day" / 1162 "Between" (CheckTime); the times of
// day 1150 and 1151 of a recurring slice (the locale's "%X"); the date-times 1152 "Starting"
// and 1153 "Finishing" of a single slice.
//
// Enabling: a recurring slice enables the day boxes and the two radios, and the times exactly
// when "Between" is chosen; a single slice enables only the two date-times.
//
// OK takes every value (a time or date that does not parse is refused and the dialog stays),
// then writes the slice: Every, CheckTime, EveryWhat; a single slice takes its start and end
// from the date-times and always checks them (CheckTime 1); a recurring slice takes them from
// the times of day (on 1899-12-30). A new slice (recurring every day, all day, from now to
// now) is the dialog's until the caller takes it after OK; Cancel frees it. An existing slice
// changes only on OK. GUI thread only.

#include "engine/access/TimeSlice.h"
#include "foundation/DateTime.h"
#include "platform/framework/Object.h"

#include <QDialog>

class CDataExchange;

class CTimeSliceDlg : public QDialog {
    Q_OBJECT
public:
    // Day boxes in EveryWhat bit order (Sunday first).
    static constexpr int kDayIds[7] = {1160, 1154, 1155, 1156, 1157, 1158, 1159};
    static constexpr int kRegular = 1122, kSingle = 1161, kAllDay = 1110, kBetween = 1162;
    static constexpr int kFromTime = 1150, kToTime = 1151, kStarting = 1152, kFinishing = 1153;

    // A new slice.
    explicit CTimeSliceDlg(QWidget* parent = nullptr);
    // Edits `slice`, which must outlive the dialog (the caller keeps it).
    CTimeSliceDlg(CTimeSlice& slice, QWidget* parent = nullptr);
    ~CTimeSliceDlg() override;

    CTimeSlice* GetSlice() const { return m_slice; }
    bool IsExisting() const { return m_existing; }
    // After OK on a new slice: the slice, the caller's from then on; null otherwise.
    CRef<CTimeSlice> TakeNewSlice();

    // Applies the enabling rules to the radios' present state.
    void UpdateControls();
    void accept() override;
    void reject() override;

private:
    void Build();
    void Load();
    void Exchange(CDataExchange& dx);

    CTimeSlice* m_slice;
    bool m_existing;
    CRef<CTimeSlice> m_newSlice;

    // The fields the controls edit.
    int m_occurrence = 0;  // 0 regular, 1 single
    int m_checkTime = 0;
    DWORD m_days = 0;
    CDateTime m_fromTime, m_toTime, m_starting, m_finishing;
};
