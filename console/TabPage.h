#pragma once
// CTabPage: one page of a property sheet, a child widget that its CTabSheet shows in its display
// area. A page is made from its own form (its template id names it; the form's window title is
// the page's caption) and holds fields that its controls edit through the data exchange
// (DataExchange.h): DoDataExchange names the exchanges, UpdateData runs them.
//
// Life of a page: the sheet dialog constructs it (usually as a member), then AddPage makes it a
// child of the tab control and calls OnInitDialog once, which loads the fields from the edited
// object and the controls from the fields. Each activation loads the controls from the fields
// again; leaving the page saves them back, and a refusal keeps the page.
//
// The sheet's OK runs in two phases over its pages (TabSheetDlg.h): every page's Apply first,
// then, only when all passed, every page's Store. Apply takes the controls' values into the
// page's fields, checks them and asks the page's questions; it writes nothing into the edited
// object, and FALSE keeps the sheet open. Store writes the fields into the object and cannot
// refuse.
//
// Enter and Escape pressed inside a page close nothing: neither the page nor its sheet.
// GUI thread only.

#include "platform/kernel/Types.h"

#include <QPointer>
#include <QWidget>

#include <string>

class CDataExchange;
class CTabSheet;

class CTabPage : public QWidget {
    Q_OBJECT
public:
    // `templateId`: the number of the page's form; `image`: a picture of the console's image
    // list for its tab, -1 for none; `title`: the tab's text, empty for the page's own caption.
    explicit CTabPage(int templateId, int image = -1, std::string title = {}, QWidget* parent = nullptr);
    ~CTabPage() override;

    int GetTemplateId() const { return m_templateId; }
    // The sheet that holds the page; null until it is added.
    CTabSheet* GetSheet() const { return m_sheet; }
    // The given title, else the page's caption (its window title).
    std::string GetTitle() const;
    int GetImage() const { return m_image; }

    // Saving (TRUE): the controls' values into the fields, each checked; loading (FALSE): the
    // fields into the controls. FALSE when a value was refused (see DataExchange.h).
    BOOL UpdateData(BOOL save = TRUE);
    // The control whose value the last exchange refused; null when none was, or the refusal
    // named no control.
    QWidget* RefusedControl() const { return m_refusedControl; }

    // Phase one of the sheet's OK (see the top of this file). Default: TRUE.
    virtual BOOL Apply();
    // Phase two: the fields into the edited object, under the sheet's store lock. Default:
    // nothing.
    virtual void Store();

protected:
    // The page's exchanges between its controls and its fields. Default: none.
    virtual void DoDataExchange(CDataExchange& dx);
    // Once, when the sheet adds the page: load the fields from the object and the controls
    // from the fields. Default: UpdateData(FALSE). FALSE leaves the page uncreated.
    virtual BOOL OnInitDialog();

    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class CTabSheet;
    friend class CTabSheetDlg;
    // Called by the sheet once the page is its child: runs OnInitDialog, once.
    BOOL Create();
    bool IsCreated() const { return m_created; }

    int m_templateId;
    int m_image;
    std::string m_title;
    CTabSheet* m_sheet = nullptr;
    bool m_created = false;
    QPointer<QWidget> m_refusedControl;
};
