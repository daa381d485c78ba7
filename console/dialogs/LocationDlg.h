#pragma once
// CLocationDlg (dialog 136, "Location"): makes a new location or edits one of the console's
// copy. 1029 holds the address pattern (no check: an empty one is accepted), 1030 the user
// name assumed for it: an editable combo of the copy's user names (not groups), sorted, whose
// text is stored as typed.
//
// OK on an existing location: a pattern that another location already has is refused with
// "This location already exists" (locations are found by pattern, so two alike would make
// later changes hit the wrong one); otherwise the location changes under the location array's
// lock, and on-line request 54 (old pattern, new pattern, "") is queued even when nothing
// changed; off-line the main window hears code 0.
// OK on a new location: a pattern that exists exactly is refused the same way; otherwise
// on-line request 52 is queued with the new location (it reaches the copy by the engine's
// echo), off-line it is appended to the copy and the main window hears code 0.
// Cancel changes nothing. GUI thread only.

#include "platform/framework/Object.h"

#include <QDialog>

#include <memory>
#include <string>

#include "engine/access/Location.h"

namespace Ui {
class CLocationDlg;
}

class CLocationDlg : public QDialog {
    Q_OBJECT
public:
    // Edits `location`, one of the copy's (null: a new location).
    explicit CLocationDlg(CRef<CLocation> location = nullptr, QWidget* parent = nullptr);
    ~CLocationDlg() override;

    void accept() override;

    const std::string& Pattern() const { return m_pattern; }
    const std::string& UserName() const { return m_userName; }

private:
    std::unique_ptr<Ui::CLocationDlg> m_ui;
    CRef<CLocation> m_location;
    std::string m_pattern;
    std::string m_userName;
};
