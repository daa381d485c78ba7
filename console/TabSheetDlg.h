#pragma once
// CTabSheetDlg: the dialog of a property sheet, the base of every sheet of the console: a tab
// control (CTabSheet, 1040) over the buttons OK (1) and Cancel (2), and Apply (3) for sheets
// that have it. It opens window-modal on the window that opened it, so alerts stay usable.
//
// The sheet protocol:
// 1. The derived sheet constructs its pages (usually members) and is given its object.
// 2. Just before the sheet first shows, OnInitDialog gives each page the object it edits, adds
//    the pages that apply in their fixed order and sets the caption; page 0 is then activated
//    unless OnInitDialog activated another. Adding a page loads it.
// 3. OK and Apply apply the pages in the sheet's order (ApplyOrder), in two phases: every page's
//    Apply (values taken and checked, questions asked), stopping at the first refusal, which
//    stores nothing and shows the refusing page; then, only when every page passed, every
//    page's Store, together under the sheet's store lock. OnApplied then sends the change.
//    OK closes the sheet; Apply keeps it open.
// 4. Cancel stores nothing (CObjectSheetDlg also frees a new object).
//
// CObjectSheetDlg<Object> adds the edited object: an existing one, edited in place, or a new
// one that the sheet owns until OK, when the caller takes it. GUI thread only.

#include "console/TabSheet.h"
#include "platform/framework/Object.h"

#include <QDialog>
#include <QPointer>

#include <functional>
#include <type_traits>
#include <vector>

class QPushButton;

class CTabSheetDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kApplyButtonId = 3;

    // `dialogId`: the sheet's number; `withApply`: whether it has the Apply button.
    explicit CTabSheetDlg(int dialogId, QWidget* parent = nullptr, bool withApply = false);
    ~CTabSheetDlg() override;

    int GetDialogId() const { return m_dialogId; }
    CTabSheet& TabSheet() const { return *m_tabSheet; }
    QPushButton* OkButton() const { return m_okButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    // Null for a sheet without Apply.
    QPushButton* ApplyButton() const { return m_applyButton; }

    // Step 3 of the protocol; TRUE when every page stored (and OnApplied ran).
    BOOL ApplySheet();
    // OK: ApplySheet, then the sheet closes; a refusal keeps it open.
    void accept() override;
    void setVisible(bool visible) override;

protected:
    // Step 2 (see the top of this file). Default: nothing.
    virtual void OnInitDialog();
    // The pages in the order OK applies them. Default: the tab order.
    virtual std::vector<CTabPage*> ApplyOrder() const;
    // Runs `storeAll` (every page's Store) under the lock of the container of the objects the
    // pages store into, which the console session's thread takes to change the same objects.
    // Default: runs it without a lock (for objects no other thread reaches).
    virtual void StoreUnderLock(const std::function<void()>& storeAll);
    // After every page stored: the change goes to the engine. Default: nothing.
    virtual void OnApplied();

private:
    // Shows `page` after its refusal; `activeTaken`: this OK took the active page's values.
    void ShowRefusal(CTabPage* page, bool activeTaken);

    int m_dialogId;
    CTabSheet* m_tabSheet;
    QPushButton* m_okButton;
    QPushButton* m_cancelButton;
    QPushButton* m_applyButton = nullptr;
    bool m_initialised = false;
};

// A sheet that the application records while it is open, so that the console session's
// notices reach it: Record (in the sheet's OnInitDialog) sets the record, and the sheet's close
// (OK, Cancel) or end clears it while it still names this sheet. The record's window and flag
// are the application's and outlive every sheet.
class CRecordedSheetDlg : public CTabSheetDlg {
    Q_OBJECT
public:
    CRecordedSheetDlg(int dialogId, QPointer<QWidget>& window, int& registered, QWidget* parent, bool withApply);
    ~CRecordedSheetDlg() override;

    void done(int result) override;

protected:
    void Record();

private:
    void Forget();

    QPointer<QWidget>& m_window;
    int& m_registered;
};

template <class Object>
class CObjectSheetDlg : public CTabSheetDlg {
public:
    using CTabSheetDlg::CTabSheetDlg;

    // Before the sheet opens: `existing` TRUE edits `object` in place (the caller keeps it);
    // FALSE makes `object` (made with new, or null for one the sheet makes with Object's
    // default constructor) a new object that the sheet owns.
    void SetObject(Object* object, BOOL existing) {
        m_newObject.Reset();
        m_existing = existing;
        if (!existing && object == nullptr)
            object = MakeDefault();
        m_object = object;
        if (!existing)
            m_newObject = CRef<Object>::Adopt(object);
    }
    Object* GetObject() const { return m_object; }
    BOOL IsExisting() const { return m_existing; }
    // After OK: the new object, the caller's from then on; null for an existing object, or
    // once taken.
    CRef<Object> TakeNewObject() { return std::move(m_newObject); }

    // Cancel: a new object is freed, then the sheet closes.
    void reject() override {
        if (!m_existing) {
            m_newObject.Reset();
            m_object = nullptr;
        }
        CTabSheetDlg::reject();
    }

private:
    static Object* MakeDefault() {
        if constexpr (std::is_default_constructible_v<Object> && !std::is_abstract_v<Object>)
            return new Object;
        else
            return nullptr;
    }

    Object* m_object = nullptr;
    BOOL m_existing = TRUE;
    CRef<Object> m_newObject;
};
