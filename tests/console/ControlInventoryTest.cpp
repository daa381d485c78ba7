// The control inventory: every row of controls.tsv names a control that exists in its dialog
// with that class and text, and every numbered control of the dialogs built here has a row.

#include "console/ConsoleSettings.h"
#include "console/dialogs/AboutDlg.h"
#include "console/dialogs/CacheSheet.h"
#include "console/dialogs/ChangePasswordDlg.h"
#include "console/dialogs/ConfirmPasswordDlg.h"
#include "console/dialogs/CriterionDlg.h"
#include "console/dialogs/DefaultPolicyDlg.h"
#include "console/dialogs/DialerSheet.h"
#include "console/dialogs/EditProfileSheet.h"
#include "console/dialogs/LocationDlg.h"
#include "console/dialogs/MappingSheet.h"
#include "console/dialogs/MessageDlg.h"
#include "console/dialogs/GroupDlg.h"
#include "console/dialogs/OnlineOptionsDlg.h"
#include "console/dialogs/ServiceSheet.h"
#include "console/dialogs/PoliciesPage.h"
#include "console/dialogs/RecipientSheet.h"
#include "console/dialogs/TimeSliceDlg.h"
#include "console/dialogs/UserSheet.h"
#include "console/session/ConsoleConfiguration.h"
#include "dialer/Dialer.h"
#include "engine/NorvaneEngine.h"
#include "proxies/web/WWWService.h"
#include "engine/framework/Service.h"
#include "tests/console/ConsoleTestKit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

namespace {

struct Row {
    int dialog;
    int id;
    std::string className;
    std::string text;
};

std::vector<Row> ReadInventory() {
    std::vector<Row> rows;
    std::ifstream file(NORVANE_CONSOLE_CONTROLS);
    std::string line;
    bool header = true;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (std::exchange(header, false))
            continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        fields.resize(4);
        rows.push_back({std::stoi(fields[0]), std::stoi(fields[1]), fields[2], fields[3]});
    }
    return rows;
}

TEST(ControlInventory, EveryRowMatchesItsDialogAndEveryNumberedControlHasARow) {
    CConsoleSettings settings;
    CGroupMemberDatabase& users = theConfiguration.GetUserDatabase();
    // Dialogs, and the user sheet's pages (each a window of its own) on a user.
    CUser user;
    CDialer& dialer = theConfiguration.GetDialer();
    CDialerProfile profile("Office");
    auto page = [&]<class Page>(Page*) {
        return [&] {
            auto made = std::make_unique<Page>(users);
            made->SetObject(&user, TRUE);
            return made;
        };
    };
    // The service sheet and its pages (each on its own, on a web proxy service).
    CServiceManager& services = theConfiguration.GetServiceManager();
    CRef<CService> web = CRef<CService>::Adopt(new CWWWService);
    auto servicePage = [&]<class Page>(Page*) {
        return [&] {
            auto made = std::make_unique<Page>(services);
            made->SetObject(web.Get(), TRUE);
            return made;
        };
    };
    // The policy pages on a recipient and on a service (not added to a sheet), and the Time
    // Slice dialog on a single slice.
    CRecipient recipient;
    auto onRecipient = [&](auto page) {
        page->SetObject(&recipient, TRUE);
        return std::unique_ptr<QWidget>(std::move(page));
    };
    CRef<CService> service =
        CRef<CService>::Adopt(dynamic_cast<CService*>(CRuntimeClass::CreateObject("CWWWService")));
    CTimeSlice slice(CDateTime::FromParts(2024, 3, 1, 9, 0, 0), CDateTime::FromParts(2024, 3, 1, 17, 0, 0));
    const std::map<int, std::function<std::unique_ptr<QWidget>()>> dialogs = {
        {100, [] { return std::make_unique<CAboutDlg>(); }},
        {133, [] { return std::make_unique<CConfirmPasswordDlg>(""); }},
        {135, [&] { return std::make_unique<COnlineOptionsDlg>(settings); }},
        {136, [] { return std::make_unique<CLocationDlg>(); }},
        {140, [] { return std::make_unique<CMessageDlg>(true, "", ""); }},
        {142, [] { return std::make_unique<CChangePasswordDlg>(); }},
        {162, [] { return std::make_unique<CCriterionDlg>(); }},
        {132, [] { return std::make_unique<CEditUserSheet>(nullptr); }},
        {138, [] { return std::make_unique<CNewGroupDlg>(); }},
        {139, [] { return std::make_unique<CEditGroupDlg>("Users", ""); }},
        {143, page(static_cast<CUserInfoPage*>(nullptr))},
        {144, page(static_cast<CUserGroupsPage*>(nullptr))},
        {145, page(static_cast<CUserAccountingPage*>(nullptr))},
        {150, page(static_cast<CUserAuditingPage*>(nullptr))},
        {146, [&] { return std::make_unique<CEditServiceSheet>(web, true); }},
        {147, servicePage(static_cast<CServiceGeneralPage*>(nullptr))},
        {149, servicePage(static_cast<CServiceNonProxyPage*>(nullptr))},
        {151, servicePage(static_cast<CServiceSessionsPage*>(nullptr))},
        {160, servicePage(static_cast<CServiceLoggingPage*>(nullptr))},
        {164, servicePage(static_cast<CSOCKSAdvancedPage*>(nullptr))},
        {165, servicePage(static_cast<CServiceMappingsPage*>(nullptr))},
        {178, servicePage(static_cast<CServiceConnectionPage*>(nullptr))},
        {182, servicePage(static_cast<CServiceEncryptionPage*>(nullptr))},
        {148, [&] {
             auto made = std::make_unique<CPoliciesPage>();
             made->SetObject(service.Get(), TRUE);
             return made;
         }},
        {152, [] { return std::make_unique<CEditRecipientSheet>(nullptr, FALSE, 0, RightAccess); }},
        {156, [&] { return onRecipient(std::make_unique<CRecipientUserPage>(users)); }},
        {157, [&] { return onRecipient(std::make_unique<CRecipientLocationPage>()); }},
        {158, [&] { return onRecipient(std::make_unique<CRecipientTimePage>()); }},
        {161, [&] { return onRecipient(std::make_unique<CRecipientRequestPage>()); }},
        {159, [&] { return std::make_unique<CTimeSliceDlg>(slice); }},
        {163, [] { return std::make_unique<CDefaultPolicyDlg>(CDefaultPolicyDlg::kDefaultRights); }},
        {180, [&] { return std::make_unique<CDialerSheet>(dialer, nullptr); }},
        {170, [&] { return std::make_unique<CDialerPhonebookPage>(dialer); }},
        {181, [&] { return std::make_unique<CDialerLocalSitesPage>(dialer); }},
        {183, [&] { return std::make_unique<CDialerSettingsPage>(dialer); }},
        {171, [&] { return std::make_unique<CEditProfileSheet>(&profile, dialer); }},
        {172, [&] {
             auto made = std::make_unique<CProfileGeneralPage>(dialer);
             made->SetObject(&profile, TRUE);
             return made;
         }},
        {173, [] { return std::make_unique<CProfileAccessPage>(); }},
        {174, [] { return std::make_unique<CCacheSheet>(); }},
        {175, [] { return std::make_unique<CCacheGeneralPage>(); }},
        {176, [] { return std::make_unique<CCachePurgePage>(); }},
        {177, [] { return std::make_unique<CCacheWhatPage>(); }},
        {166, [] { return std::make_unique<CMappingSheet>(nullptr, FALSE); }},
        {167, [] { return std::make_unique<CMappingTargetPage>(); }},
        {168, [&] { return std::make_unique<CMappingUserPage>(users); }},
        {169, [] { return std::make_unique<CMappingLocationPage>(); }},
    };
    std::vector<Row> rows = ReadInventory();
    ASSERT_FALSE(rows.empty());
    std::map<int, std::set<int>> listed;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "dialog " << row.dialog << " control " << row.id);
        ASSERT_TRUE(dialogs.count(row.dialog));
        std::unique_ptr<QWidget> dialog = dialogs.at(row.dialog)();
        QWidget* control = FindControl(dialog.get(), row.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->metaObject()->className(), row.className);
        EXPECT_EQ(ControlText(dialog.get(), row.id).toStdString(), row.text);
        EXPECT_TRUE(listed[row.dialog].insert(row.id).second) << "listed twice";
    }
    for (const auto& [number, make] : dialogs) {
        std::unique_ptr<QWidget> dialog = make();
        for (QWidget* child : dialog->findChildren<QWidget*>()) {
            if (QVariant id = child->property(kControlIdProperty); id.isValid()) {
                EXPECT_TRUE(listed[number].count(id.toInt())) << "dialog " << number << " control " << id.toInt();
            }
        }
    }
}

}  // namespace
