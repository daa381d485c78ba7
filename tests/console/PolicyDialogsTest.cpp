// The Policies page of a service sheet and the Default Policy dialog: their orders, when they
// ask about rights without recipients, that a No applies nothing, that the copies outlive a
// later page's refusal, and request 42 only on-line.

#include "console/ChildDialog.h"
#include "console/ConsoleTexts.h"
#include "console/TabSheetDlg.h"
#include "console/WardenhallView.h"
#include "console/dialogs/DefaultPolicyDlg.h"
#include "console/dialogs/PoliciesPage.h"
#include "console/dialogs/PolicyKit.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/EngineFormat.h"
#include "engine/NorvaneEngine.h"
#include "engine/framework/Service.h"
#include "foundation/ScopedLock.h"
#include "tests/console/ConsoleTestKit.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using Request = CRecordingSession::Request;

std::vector<std::string> ComboTexts(const CRightsEditor& editor) {
    std::vector<std::string> texts;
    for (int index = 0; index < editor.Count(); ++index)
        texts.push_back(editor.Rights()->itemText(index).toStdString());
    return texts;
}

std::size_t RecipientCount(const CRight& right) {
    CScopedLock lock(right);
    return right.GetRecipients().GetCount();
}

// A page after the Policies page that refuses while told to.
class CRefusingPage : public CServicePage {
public:
    CRefusingPage() : CServicePage(901) { setWindowTitle("Later"); }
    BOOL Apply() override { return refuse ? FALSE : TRUE; }
    bool refuse = false;
};

class CPolicySheet : public CObjectSheetDlg<CService> {
public:
    explicit CPolicySheet(CService* service) : CObjectSheetDlg(900) { SetObject(service, TRUE); }
    CPoliciesPage policies;
    CRefusingPage later;

protected:
    void OnInitDialog() override {
        for (CServicePage* page : std::initializer_list<CServicePage*>{&policies, &later}) {
            page->SetObject(GetObject(), TRUE);
            TabSheet().AddPage(page);
        }
    }
};

class PolicyDialogs : public testing::Test {
protected:
    void SetUp() override {
        for (const EngineFormat::EngineRight& made : EngineFormat::kRights) {
            CRight* right = theConfiguration.GetRight(made.kind);
            right->SetRightType(made.kind);
            right->SetDescription(made.description);
            right->SetIncludeDefaultRights(1);
            right->RemoveAll();
            right->AddRecipientFor("Administrators");
        }
        service = CRef<CService>::Adopt(dynamic_cast<CService*>(CRuntimeClass::CreateObject("CWWWService")));
        for (CRight* right : service->GetRights())
            right->AddRecipientFor("Staff");
    }
    void TearDown() override {
        SetChildDialogAnswerer({});
        const CRight blank;
        for (DWORD kind = 0; kind < kRightKindCount; ++kind)
            theConfiguration.GetRight(kind)->Copy(blank);
    }

    CRecordingSession session;
    CBoxRecorder boxes;
    CRef<CService> service;
};

TEST_F(PolicyDialogs, ThePoliciesPageSortsItsRightsAndTheDefaultPolicyDialogKeepsItsOrder) {
    CPolicySheet sheet(service.Get());
    sheet.show();
    EXPECT_EQ(ComboTexts(*sheet.policies.Editor()),
              (std::vector<std::string>{"Users can access this service", "Users can modify this service",
                                        "Users can start/stop this service"}));
    CDefaultPolicyDlg defaults(CDefaultPolicyDlg::kDefaultRights);
    EXPECT_EQ(defaults.windowTitle(), ConsoleTexts::kDefaultPoliciesTitle);
    EXPECT_EQ(ComboTexts(*defaults.Editor()),
              (std::vector<std::string>{"Users can access services", "Users can start/stop services",
                                        "Users can modify services"}));
    CDefaultPolicyDlg system(CDefaultPolicyDlg::kSystemRights);
    EXPECT_EQ(system.windowTitle(), ConsoleTexts::kSystemRightsTitle);
    std::vector<DWORD> kinds;
    for (int index = 0; index < system.Editor()->Count(); ++index)
        kinds.push_back(system.Editor()->LiveAt(index)->GetRightType());
    EXPECT_EQ(kinds, (std::vector<DWORD>{3, 4, 5, 6, 8, 9, 10, 7}));
}

TEST_F(PolicyDialogs, ThePoliciesPageAsksOnlyWhenChangedAndOnlyWithoutDefaultRightsAndNoAppliesNothing) {
    {  // Unchanged: no question, nothing copied back.
        CPolicySheet sheet(service.Get());
        sheet.show();
        sheet.accept();
        EXPECT_TRUE(boxes.calls.empty());
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
    }
    CPolicySheet sheet(service.Get());
    sheet.show();
    CRightsEditor& editor = *sheet.policies.Editor();
    // Empty every right; the first keeps IncludeDefaultRights, the others drop it.
    for (int index = 0; index < 3; ++index) {
        editor.Select(index);
        editor.Recipients()->topLevelItem(0)->setSelected(true);
        ClickControl(&editor, 1099);
        if (index > 0)
            ClickControl(&editor, 1164);
    }
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);
    sheet.accept();
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_EQ(boxes.calls[0].title, "Users can modify this service");
    EXPECT_EQ(boxes.calls[1].title, "Users can start/stop this service");
    EXPECT_TRUE(sheet.isVisible());
    for (CRight* right : service->GetRights())
        EXPECT_EQ(RecipientCount(*right), 1u) << right->GetDescription();

    // A later page's refusal: nothing stored, the copies still there for the next OK.
    sheet.later.refuse = true;
    boxes.Answer(IDYES);
    boxes.Answer(IDYES);
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(RecipientCount(service->GetAccessRights()), 1u);
    sheet.later.refuse = false;
    boxes.Answer(IDYES);
    boxes.Answer(IDYES);
    sheet.accept();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    for (CRight* right : service->GetRights())
        EXPECT_EQ(RecipientCount(*right), 0u) << right->GetDescription();
    EXPECT_EQ(service->GetAccessRights().GetIncludeDefaultRights(), 1u);
    EXPECT_EQ(service->GetEditRights().GetIncludeDefaultRights(), 0u);
}

TEST_F(PolicyDialogs, TheDefaultPolicyDialogAsksForEveryEmptyRightAndQueues42OnlyOnline) {
    CRight& shutdown = *theConfiguration.GetRight(RightShutdown);
    CRight& policies = *theConfiguration.GetRight(RightPolicyEdit);
    for (bool online : {true, false}) {
        SCOPED_TRACE(online);
        session.online = online;
        session.requests.clear();
        boxes.calls.clear();
        CDefaultPolicyDlg dialog(CDefaultPolicyDlg::kSystemRights);
        dialog.show();
        CRightsEditor& editor = *dialog.Editor();
        // Released keys: Delete removes the selected row; Insert opens a new recipient's sheet.
        int sheets = 0;
        SetChildDialogAnswerer([&](QDialog&) { return ++sheets, QDialog::Rejected; });
        for (int index : {6, 7}) {  // Shutdown, then Policy Edit (the last)
            editor.Select(index);
            editor.Recipients()->topLevelItem(0)->setSelected(true);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
            QApplication::sendEvent(&dialog, &release);
        }
        QKeyEvent insert(QEvent::KeyRelease, Qt::Key_Insert, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &insert);
        EXPECT_EQ(sheets, 1);
        // No on the last right: nothing applied, Shutdown included; the dialog stays.
        boxes.Answer(IDYES);
        boxes.Answer(IDNO);
        dialog.accept();
        ASSERT_EQ(boxes.calls.size(), 2u);
        EXPECT_EQ(boxes.calls[0].title, "Users can shutdown Norvane");
        EXPECT_EQ(boxes.calls[1].title, "Users can modify system policies");
        EXPECT_EQ(RecipientCount(shutdown), 1u);
        EXPECT_TRUE(session.requests.empty());
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        boxes.Answer(IDYES);
        boxes.Answer(IDYES);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(RecipientCount(shutdown), 0u);
        EXPECT_EQ(RecipientCount(policies), 0u);
        EXPECT_EQ(RecipientCount(*theConfiguration.GetRight(RightUserAdd)), 1u);
        const std::vector<Request> queued = online ? std::vector<Request>{{42, "", "", "", false}} : std::vector<Request>{};
        EXPECT_EQ(session.requests, queued);
        shutdown.AddRecipientFor("Administrators");
        policies.AddRecipientFor("Administrators");
    }
}

TEST_F(PolicyDialogs, TheConfigurationTreeOpensTheDialogInItsMode) {
    CConfigurationDialogs dialogs;
    AddPolicyDialogs(dialogs);
    std::vector<QString> titles;
    SetChildDialogAnswerer([&](QDialog& dialog) {
        titles.push_back(dialog.windowTitle());
        return QDialog::Rejected;
    });
    dialogs.defaultPolicy(nullptr, false);
    dialogs.defaultPolicy(nullptr, true);
    EXPECT_EQ(titles, (std::vector<QString>{"Default Policies", "System Rights"}));
    EXPECT_EQ(RecipientCount(*theConfiguration.GetRight(RightShutdown)), 1u);
}

}  // namespace
