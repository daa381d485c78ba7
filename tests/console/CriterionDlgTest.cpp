// The Criterion dialog: the variables by service kind, the comparisons by type, and criteria made
// through it as the engine's own criterion tests judge them (a parsed web request among them).

#include "console/dialogs/CriterionDlg.h"
#include "engine/access/CachePurgeCriterion.h"
#include "proxies/web/WWWVariables.h"
#include "tests/console/ConsoleTestKit.h"
#include "tests/support/FakeRequest.h"

#include <QComboBox>

#include <gtest/gtest.h>

namespace {

QComboBox* Combo(QWidget* dialog, int id) { return qobject_cast<QComboBox*>(FindControl(dialog, id)); }

void Choose(QWidget* dialog, int id, const char* text) {
    QComboBox* combo = Combo(dialog, id);
    ASSERT_GE(combo->findText(text), 0) << text;
    combo->setCurrentIndex(combo->findText(text));
}

// A new criterion made with the dialog: variable, comparison and value chosen, then OK.
CRef<CRequestCriterion> Make(int kind, const char* variable, const char* comparison, const char* value,
                             int notButton = 1174, const char* header = "") {
    CCriterionDlg dialog(kind);
    Choose(&dialog, 1179, variable);
    Choose(&dialog, 1176, comparison);
    SetControlText(&dialog, 1177, value);
    SetControlText(&dialog, 1178, header);
    ClickControl(&dialog, notButton);
    ClickControl(&dialog, 1);
    return dialog.TakeNewCriterion();
}

struct WebRequest : CRequestValueSource {
    explicit WebRequest(std::string_view head) { EXPECT_EQ(ParseResultCode(ParseRequest(head, {}, {}, request)), 1); }
    void GetValue(DWORD index, CNVDataObject& data) override { GetWebRequestValue(request, index, data); }
    void GetVariable(const std::string& name, CNVDataObject& d) override { GetWebRequestVariable(request, name, d); }
    CWWWRequest request;
};

TEST(CriterionDialog, VariablesOfferedByServiceKind) {
    const std::vector<DWORD> none = {0, 1, 4, 5, 6, 7, 8, 9, 10, 11}, servers = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    auto plus = [&](std::vector<DWORD> more) {
        more.insert(more.begin(), servers.begin(), servers.end());
        return more;
    };
    const std::pair<int, std::vector<DWORD>> cases[] = {
        {0, none},  {1, servers}, {2, plus({12, 13, 14, 15, 16, 17, 18})}, {3, plus({19})}, {5, plus({20})},
        {7, plus({22, 23, 24})}, {9, none}, {11, plus({21})}, {-1, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
    };
    for (const auto& [kind, offered] : cases) {
        CCriterionDlg dialog(kind);
        std::vector<DWORD> shown;
        for (int i = 0; i < Combo(&dialog, 1179)->count(); ++i)
            shown.push_back(Combo(&dialog, 1179)->itemData(i).value<DWORD>());
        EXPECT_EQ(shown, offered) << kind;
        EXPECT_EQ(dialog.GetCriterion()->IsKindOf(RUNTIME_CLASS(CCachePurgeCriterion)), kind == -1) << kind;
        EXPECT_EQ(Combo(&dialog, 1179)->currentText(), kind == -1 ? "URL" : "Client IP number");
        EXPECT_EQ(Combo(&dialog, 1176)->currentText(), "equals");
    }
}

TEST(CriterionDialog, ComparisonsFollowTheVariableTypeAndTheHeaderNameIsAlwaysKept) {
    const QStringList numeric = {"equals", "greater than", "less than"};
    const QStringList text = {"equals", "contains", "begins with", "ends with", "is empty"};
    const std::tuple<int, const char*, QStringList> cases[] = {
        {2, "User: Seconds on line", numeric},            {2, "User: Account balance", numeric},
        {-1, "Relative Cache efficiency (%)", numeric},  {2, "HTTP URL", text},
        {2, "HTTP Header field", text},
    };
    for (const auto& [kind, variable, comparisons] : cases) {
        CCriterionDlg dialog(kind);
        dialog.show();
        Choose(&dialog, 1179, variable);
        QStringList shown;
        for (int i = 0; i < Combo(&dialog, 1176)->count(); ++i)
            shown << Combo(&dialog, 1176)->itemText(i);
        EXPECT_EQ(shown, comparisons) << variable;
        const bool header = variable == std::string("HTTP Header field");
        EXPECT_EQ(FindControl(&dialog, 1178)->isVisible() && FindControl(&dialog, 1180)->isVisible(), header);
    }
    // Typed while shown, stored after it was hidden again.
    CCriterionDlg named(2);
    Choose(&named, 1179, "HTTP Header field");
    SetControlText(&named, 1178, "Referer");
    Choose(&named, 1179, "HTTP Method");
    ClickControl(&named, 1);
    EXPECT_EQ(named.TakeNewCriterion()->GetVariableName(), "Referer");
}

TEST(CriterionDialog, CriteriaMadeHereHoldForTheEngine) {
    CRef<CRequestCriterion> port = Make(1, "Client port number", "greater than", " 1024");
    EXPECT_EQ(port->GetDescriptionText(), "Client port number greater than 1024");
    auto from = [&](DWORD number) {
        FakeRequest request;
        return port->MatchRequest(request.Set(RequestClientPortNumber, CNVDataObject(number))) != FALSE;
    };
    EXPECT_TRUE(from(3000) && !from(80));

    WebRequest games("GET http://www.games.example/play?level=2 HTTP/1.0\r\nUser-Agent: Mozilla/4.0\r\n\r\n");
    WebRequest news("GET http://news.example/ HTTP/1.0\r\n\r\n");
    CRef<CRequestCriterion> url = Make(2, "HTTP URL", "contains", "GAMES");
    EXPECT_TRUE(url->MatchRequest(games) && !url->MatchRequest(news));
    EXPECT_TRUE(Make(2, "HTTP URL", "contains", "games", 1175)->MatchRequest(news)) << "NOT met";
    EXPECT_TRUE(Make(2, "HTTP Header field", "begins with", "mozilla", 1174, "user-agent")->MatchRequest(games));

    // A value that does not parse in its variable's type keeps the dialog open; Cancel frees.
    CBoxRecorder boxes;
    CCriterionDlg refusing(1);
    Choose(&refusing, 1179, "Client port number");
    SetControlText(&refusing, 1177, "-1");
    ClickControl(&refusing, 1);
    EXPECT_EQ(boxes.calls.at(0).text, "Please enter a number from 0 to 4294967295.");
    ClickControl(&refusing, 2);
    EXPECT_EQ(refusing.GetCriterion(), nullptr);

    // Stored as a string under an unsigned variable: shown and saved in the variable's type.
    CRef<CRequestCriterion> stored =
        CRef<CRequestCriterion>::Adopt(NewCriterion(RequestServerPortNumber, ComparisonEquals, CNVDataObject("x")));
    CCriterionDlg editing(*stored, 1);
    EXPECT_EQ(ControlText(&editing, 1177), "0");
    SetControlText(&editing, 1177, "443");
    ClickControl(&editing, 1);
    FakeRequest server;
    EXPECT_TRUE(stored->MatchRequest(server.Set(RequestServerPortNumber, CNVDataObject(DWORD(443)))));
}

}  // namespace
