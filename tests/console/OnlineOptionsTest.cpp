// The On-line Options dialog against a temporary state folder: the engine's lock held or free,
// which servers are local, the account check and its spelling, a store that cannot be read,
// and the values taken before a refusal.

#include "console/ConsoleSettings.h"
#include "console/ConsoleTexts.h"
#include "console/dialogs/OnlineOptionsDlg.h"
#include "foundation/RegistryStore.h"
#include "platform/kernel/InstanceLock.h"
#include "platform/registry/Registry.h"
#include "tests/console/ConsoleTestKit.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

constexpr const char* kAccounts = "SOFTWARE\\Urvo Software\\Norvane 2\\UserDatabase\\Administrator";

class OnlineOptions : public testing::Test {
protected:
    void SetUp() override {
        CRegKey key;
        ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, kAccounts, KEY_ALL_ACCESS, key.Receive()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueEx(key.Get(), "Name", REG_SZ, std::string("Administrator\0", 14)), ERROR_SUCCESS);
    }
    void HoldEngineLock() { ASSERT_EQ(engineLock.TryAcquire("NorvaneEngineApp"), CInstanceLock::Result::Acquired); }

    // Opens the dialog on `settings`, types the values given (a null text leaves the box as
    // it is) and presses OK. True when the dialog closed with OK.
    bool PressOk(const char* user, const char* password, const char* server, const char* port) {
        COnlineOptionsDlg dialog(settings);
        dialog.show();
        EXPECT_EQ(dialog.focusWidget(), FindControl(&dialog, 1001)) << "the focus starts in the password";
        const std::pair<int, const char*> values[] = {{1000, user}, {1001, password}, {1026, server}, {1027, port}};
        for (auto [id, text] : values)
            if (text)
                SetControlText(&dialog, id, text);
        ClickControl(&dialog, 1);
        shown = ControlText(&dialog, 1000).toStdString();
        return dialog.result() == QDialog::Accepted && !dialog.isVisible();
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const MessageBoxCall& call : boxes.calls)
            texts.push_back(call.text);
        return texts;
    }

    TempStateDir state;
    CInstanceLock engineLock;
    CConsoleSettings settings;
    CBoxRecorder boxes;
    std::string shown;
};

TEST_F(OnlineOptions, LocalEngineMustRunAndOnlyLocalServersAreChecked) {
    // Engine not running: refused for both spellings of this machine, never for another host.
    EXPECT_FALSE(PressOk(nullptr, "pw", "LOCALHOST", nullptr));
    EXPECT_FALSE(PressOk(nullptr, "pw", "127.0.0.1", nullptr));
    EXPECT_TRUE(PressOk(nullptr, "pw", "127.0.0.2", nullptr));
    EXPECT_TRUE(PressOk(nullptr, "pw", "engine.example", "8808"));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, ConsoleTexts::kEngineNotRunning));
    EXPECT_EQ(settings.server, "engine.example");
    EXPECT_EQ(settings.port, 8808);
    EXPECT_FALSE(CInstanceLock::IsHeldByAnyone("NorvaneEngineApp")) << "the check never takes the lock";

    HoldEngineLock();
    EXPECT_TRUE(PressOk(nullptr, "pw", "LocalHost", nullptr));
    EXPECT_EQ(boxes.calls.size(), 2u);
}

TEST_F(OnlineOptions, AccountMustExistAndTakesItsStoredSpelling) {
    HoldEngineLock();
    EXPECT_TRUE(PressOk("administrator", "pw", "localhost", nullptr));
    EXPECT_EQ(settings.userName, "Administrator");
    EXPECT_EQ(shown, "Administrator") << "the corrected name is shown";

    for (const char* user : {"Nobody", "", "Administrator\\Members", "..", "Admin\x01"}) {
        boxes.calls.clear();
        EXPECT_FALSE(PressOk(user, "pw", "localhost", nullptr)) << user;
        EXPECT_EQ(BoxTexts(), std::vector<std::string>{ConsoleTexts::kNoSuchAccount}) << user;
    }
}

TEST_F(OnlineOptions, UnreadableStoreSkipsTheAccountCheckAndNothingIsCreated) {
    HoldEngineLock();
    // A store the console cannot read (here: not a store at all; in real life, an engine of
    // another account whose file is mode 0600) says nothing about the account.
    std::string hive = RegHivePath(HKEY_LOCAL_MACHINE);
    ASSERT_EQ(std::remove(hive.c_str()), 0);
    std::ofstream(hive) << "this is not a configuration store";
    EXPECT_TRUE(PressOk("Nobody", "pw", "localhost", nullptr));
    EXPECT_TRUE(boxes.calls.empty());

    // A missing store: no account, and no store is made by looking.
    ASSERT_EQ(std::remove(hive.c_str()), 0);
    EXPECT_FALSE(PressOk("Administrator", "pw", "localhost", nullptr));
    struct stat info {};
    EXPECT_NE(stat(hive.c_str(), &info), 0);
}

TEST_F(OnlineOptions, RefusalsKeepTheDialogOpenWithTheValuesTaken) {
    // A port that is not a number is refused before anything is taken.
    EXPECT_FALSE(PressOk("Operator", "pw", "engine.example", "80a"));
    EXPECT_FALSE(PressOk("Operator", "pw", "engine.example", "0"));
    EXPECT_EQ(settings.userName, "Administrator");
    EXPECT_EQ(settings.server, "localhost");
    EXPECT_EQ(settings.port, 808);

    // Cancel in the password question: the dialog stays, the values stay taken.
    boxes.calls.clear();
    boxes.Answer(IDCANCEL);
    EXPECT_FALSE(PressOk("Operator", "", "engine.example", "9000"));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].text, ConsoleTexts::kNoPassword);
    EXPECT_EQ(boxes.calls[0].flags & MB::kButtonMask, MB::kOkCancel);
    EXPECT_EQ(settings.userName, "Operator");
    EXPECT_EQ(settings.server, "engine.example");
    EXPECT_EQ(settings.port, 9000);

    // OK in the same question goes on without a password.
    EXPECT_TRUE(PressOk(nullptr, "", nullptr, nullptr));
}

}  // namespace
