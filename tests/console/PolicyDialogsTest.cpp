// The Policies page of a service sheet and the Default Policy dialog: their orders, when they
// ask about rights without recipients, that a No applies nothing, that the copies outlive a
// later page's refusal, and request 42 only on-line.

#include "console/ConsoleTexts.h"
#include "console/TabSheetDlg.h"
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

std::vector<std::string> Descriptions(const CRightsEditor& editor) {
    std::vector<std::string> texts;
    for (int index = 0; index < editor.Count(); ++index)
        texts.push_back(editor.LiveAt(index)->GetDescription());
    return texts;
}

std::size_t RecipientCount(const CRight& right) {
    CScopedLock lock(right);
    return right.GetRecipients().GetCount();
}

// Empties the copy of combo item `index`, row by row.
void Empty(CRightsEditor& editor, int index) {
    editor.Select(index);
    while (QTreeWidgetItem* row = editor.Recipients()->topLevelItem(0)) {
        row->setSelected(true);
        editor.RemoveRecipient();
    }
}

// A service sheet with the Policies page and a later page that refuses while told to.
class CRefusingPage : public CServicePage {
public:
    CRefusingPage() : CServicePage(901) {}
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
            right->AddRecipientFor("Administrators");
        }
        service = CRef<CService>::Adopt(dynamic_cast<CService*>(CRuntimeClass::CreateObject("CWWWService")));
        for (CRight* right : service->GetRights())
            right->AddRecipientFor("Staff");
    }
    void TearDown() override {
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
    EXPECT_EQ(Descriptions(*sheet.policies.Editor()),
              (std::vector<std::string>{"Users can access this service", "Users can modify this service",
                                        "Users can start/stop this service"}));
    CDefaultPolicyDlg defaults(CDefaultPolicyDlg::kDefaultRights);
    EXPECT_EQ(defaults.windowTitle(), ConsoleTexts::kDefaultPoliciesTitle);
    EXPECT_EQ(Descriptions(*defaults.Editor()), (std::vector<std::string>{"Users can access services",
                                                                          "Users can start/stop services",
                                                                          "Users can modify services"}));
    CDefaultPolicyDlg system(CDefaultPolicyDlg::kSystemRights);
    EXPECT_EQ(system.windowTitle(), ConsoleTexts::kSystemRightsTitle);
    std::vector<DWORD> kinds;
    for (int index = 0; index < system.Editor()->Count(); ++index)
        kinds.push_back(system.Editor()->LiveAt(index)->GetRightType());
    EXPECT_EQ(kinds, (std::vector<DWORD>{3, 4, 5, 6, 8, 9, 10, 7}));
}

TEST_F(PolicyDialogs, ThePoliciesPageAsksOnlyWithoutDefaultRightsAndItsCopiesOutliveARefusal) {
    CPolicySheet sheet(service.Get());
    sheet.show();
    CRightsEditor& editor = *sheet.policies.Editor();
    for (int index = 0; index < 3; ++index) {
        Empty(editor, index);
        if (index > 0)  // access keeps IncludeDefaultRights (1): it is applied without a question
            ClickControl(&editor, 1164);
    }
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);  // No on the last right: nothing applied, earlier rights included
    sheet.accept();
    ASSERT_EQ(boxes.calls.size(), 2u);
    EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kNoRecipients);
    EXPECT_EQ(boxes.calls[0].title, "Users can modify this service");
    EXPECT_EQ(boxes.calls[1].title, "Users can start/stop this service");
    EXPECT_EQ(RecipientCount(service->GetEditRights()), 1u);

    sheet.later.refuse = true;  // a later page refuses after the Policies page passed
    for (int answer = 0; answer < 4; ++answer)
        boxes.Answer(IDYES);
    sheet.accept();
    EXPECT_EQ(RecipientCount(service->GetAccessRights()), 1u);
    sheet.later.refuse = false;
    sheet.accept();
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    for (CRight* right : service->GetRights())
        EXPECT_EQ(RecipientCount(*right), 0u) << right->GetDescription();
    EXPECT_EQ(service->GetEditRights().GetIncludeDefaultRights(), 0u);
}

TEST_F(PolicyDialogs, TheDefaultPolicyDialogAsksForEveryEmptyRightAndQueues42OnlyOnline) {
    CRight& shutdown = *theConfiguration.GetRight(RightShutdown);
    for (bool online : {true, false}) {
        session.online = online;
        session.requests.clear();
        boxes.calls.clear();
        CDefaultPolicyDlg dialog(CDefaultPolicyDlg::kSystemRights);
        dialog.show();
        Empty(*dialog.Editor(), 6);  // Shutdown
        dialog.Editor()->Select(7);  // Policy Edit, the last, by the Delete key
        dialog.Editor()->Recipients()->topLevelItem(0)->setSelected(true);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &release);
        boxes.Answer(IDYES);
        boxes.Answer(IDNO);
        dialog.accept();
        ASSERT_EQ(boxes.calls.size(), 2u);
        EXPECT_EQ(boxes.calls[1].title, "Users can modify system policies");
        EXPECT_EQ(RecipientCount(shutdown), 1u);
        EXPECT_TRUE(session.requests.empty());
        boxes.Answer(IDYES);
        boxes.Answer(IDYES);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(RecipientCount(shutdown), 0u);
        EXPECT_EQ(RecipientCount(*theConfiguration.GetRight(RightUserAdd)), 1u);
        const std::vector<Request> queued = online ? std::vector<Request>{{42, "", "", "", false}} : std::vector<Request>{};
        EXPECT_EQ(session.requests, queued);
        shutdown.AddRecipientFor("Administrators");
        theConfiguration.GetRight(RightPolicyEdit)->AddRecipientFor("Administrators");
    }
}

}  // namespace
