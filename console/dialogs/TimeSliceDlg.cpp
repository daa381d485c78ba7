#include "console/dialogs/TimeSliceDlg.h"

#include "console/ConsoleIds.h"
#include "console/DataExchange.h"
#include "console/dialogs/UserDialogKit.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace UserDialogKit;

namespace {

// Day boxes in EveryWhat bit order (Sunday first); the dialog shows Monday first.
constexpr const char* kDayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr int kDisplayOrder[7] = {1, 2, 3, 4, 5, 6, 0};

// A date-time that names no moment: its box shows empty, and an empty box keeps it.
constexpr CDateTime kNoMoment(0.0, CDateTime::null);

}  // namespace

CTimeSliceDlg::CTimeSliceDlg(QWidget* parent) : QDialog(parent), m_existing(false) {
    m_newSlice = CRef<CTimeSlice>::Adopt(new CTimeSlice);
    m_slice = m_newSlice.Get();
    Build();
    Load();
}

CTimeSliceDlg::CTimeSliceDlg(CTimeSlice& slice, QWidget* parent) : QDialog(parent), m_slice(&slice), m_existing(true) {
    Build();
    Load();
}

CTimeSliceDlg::~CTimeSliceDlg() = default;

CRef<CTimeSlice> CTimeSliceDlg::TakeNewSlice() {
    if (result() != QDialog::Accepted)
        return {};
    return std::move(m_newSlice);
}

void CTimeSliceDlg::Build() {
    setWindowTitle("Time Slice");
    auto* layout = new QVBoxLayout(this);
    auto addRadios = [this](QBoxLayout* into, std::initializer_list<std::pair<int, const char*>> radios) {
        auto* group = new QButtonGroup(this);
        for (auto [id, text] : radios) {
            auto* radio = Numbered(new QRadioButton(text), id);
            group->addButton(radio);
            into->addWidget(radio);
            connect(radio, &QRadioButton::clicked, this, [this] { UpdateControls(); });
        }
    };
    auto* occurrence = new QHBoxLayout;
    addRadios(occurrence, {{kRegular, "Regular Occurence"}, {kSingle, "Single Occurence"}});
    layout->addLayout(occurrence);

    auto* regular = new QGroupBox;
    auto* grid = new QGridLayout(regular);
    for (int n = 0; n < 7; ++n) {
        const int bit = kDisplayOrder[n];
        grid->addWidget(Numbered(new QCheckBox(kDayNames[bit]), kDayIds[bit]), n / 4, n % 4);
    }
    auto* times = new QHBoxLayout;
    addRadios(times, {{kAllDay, "All Day"}, {kBetween, "Between"}});
    times->addWidget(Numbered(new QLineEdit, kFromTime));
    times->addWidget(new QLabel("and"));
    times->addWidget(Numbered(new QLineEdit, kToTime));
    grid->addLayout(times, 2, 0, 1, 4);
    layout->addWidget(regular);

    auto* single = new QGridLayout;
    single->addWidget(new QLabel("Starting"), 0, 0);
    single->addWidget(Numbered(new QLineEdit, kStarting), 0, 1);
    single->addWidget(new QLabel("Finishing"), 1, 0);
    single->addWidget(Numbered(new QLineEdit, kFinishing), 1, 1);
    layout->addLayout(single);

    layout->addWidget(OkCancelButtons(this));
}

void CTimeSliceDlg::Load() {
    // Every non-zero is a recurring slice in the engine's test, whatever the number.
    m_occurrence = m_slice->GetEvery() != 0 ? 0 : 1;
    m_checkTime = m_slice->GetCheckTime() != 0 ? 1 : 0;
    m_days = m_slice->GetEveryWhat();
    m_fromTime = m_occurrence == 0 ? m_slice->GetStartTime() : kNoMoment;
    m_toTime = m_occurrence == 0 ? m_slice->GetEndTime() : kNoMoment;
    m_starting = m_slice->GetStartTime();
    m_finishing = m_slice->GetEndTime();
    UpdateData(this, FALSE, [this](CDataExchange& dx) { Exchange(dx); });
    UpdateControls();
}

void CTimeSliceDlg::Exchange(CDataExchange& dx) {
    DDX_Radio(dx, {kRegular, kSingle}, m_occurrence);
    DWORD days = 0;
    for (int bit = 0; bit < 7; ++bit) {
        BOOL checked = (m_days >> bit) & 1;
        DDX_Check(dx, kDayIds[bit], checked);
        days |= checked ? (1u << bit) : 0;
    }
    // Bits above Saturday mean nothing to the engine; they stay as stored.
    if (dx.IsSaving())
        m_days = days | (m_days & ~DWORD{0x7F});
    DDX_Radio(dx, {kAllDay, kBetween}, m_checkTime);
    DDX_Time(dx, kFromTime, m_fromTime);
    DDX_Time(dx, kToTime, m_toTime);
    DDX_DateTime(dx, kStarting, m_starting);
    DDX_DateTime(dx, kFinishing, m_finishing);
}

void CTimeSliceDlg::UpdateControls() {
    auto checked = [this](int id) { return static_cast<QAbstractButton*>(FindControl(this, id))->isChecked(); };
    auto enable = [this](int id, bool on) { FindControl(this, id)->setEnabled(on); };
    const bool regular = !checked(kSingle);
    for (int id : kDayIds)
        enable(id, regular);
    enable(kAllDay, regular);
    enable(kBetween, regular);
    enable(kFromTime, regular && !checked(kAllDay));
    enable(kToTime, regular && !checked(kAllDay));
    enable(kStarting, !regular);
    enable(kFinishing, !regular);
}

void CTimeSliceDlg::accept() {
    if (!UpdateData(this, TRUE, [this](CDataExchange& dx) { Exchange(dx); }))
        return;
    m_slice->SetEvery(m_occurrence == 0 ? 1 : 0);
    m_slice->SetCheckTime(static_cast<DWORD>(m_checkTime));
    m_slice->SetEveryWhat(m_days);
    if (m_occurrence == 1) {
        m_slice->SetStartTime(m_starting);
        m_slice->SetEndTime(m_finishing);
        m_slice->SetCheckTime(1);
    } else {
        // Boxes left empty (a single slice made recurring) keep the slice's times of day.
        m_slice->SetStartTime(m_fromTime.IsValid() ? m_fromTime : m_slice->GetStartTime().GetTimeOfDay());
        m_slice->SetEndTime(m_toTime.IsValid() ? m_toTime : m_slice->GetEndTime().GetTimeOfDay());
    }
    QDialog::accept();
}

void CTimeSliceDlg::reject() {
    m_newSlice.Reset();
    if (!m_existing)
        m_slice = nullptr;
    QDialog::reject();
}
