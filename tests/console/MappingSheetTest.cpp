// The mapping sheet: who owns a new mapping after OK and Cancel, the port range, and the edge
// cases of the enabled box, the user choice and the location lists.

#include "console/dialogs/MappingSheet.h"
#include "proxies/mapping/Mappings.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>
#include <QListWidget>

#include <gtest/gtest.h>

namespace {

struct CountedMapping : CMapping {
    ~CountedMapping() override { ++freed; }
    static inline int freed = 0;
};

TEST(MappingSheet, NewMappingsAreTheSheetsUntilTakenAndCancelFreesThem) {
    CRecordingSession session;
    CMappings table;
    for (bool ok : {false, true}) {
        CMappingSheet sheet(new CountedMapping, FALSE, &table);
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), "Mapping Properties");
        SetControlText(&sheet.m_targetPage, 1201, "pop.example.com");
        SetControlText(&sheet.m_targetPage, 1202, "110");
        ok ? sheet.accept() : sheet.reject();
        if (ok)
            table.AddMapping(sheet.TakeNewObject().Detach());
        EXPECT_EQ(CountedMapping::freed, 1);
    }
    EXPECT_EQ(CountedMapping::freed, 1);
    ASSERT_EQ(table.GetMappingCount(), 1u);
    EXPECT_EQ(table.GetMappings()[0]->GetTarget(), CHostPort("pop.example.com", 110));
    EXPECT_TRUE(session.requests.empty());
}

TEST(MappingSheet, PortRangeEnabledBoxUserChoiceAndLocations) {
    CBoxRecorder boxes;
    CMapping mapping;
    mapping.SetTarget("news.example.com", 119);
    mapping.SetUserName("staff");
    mapping.SetExcludedLocations({"10.0.0.*"});
    CMappingSheet sheet(&mapping, TRUE);
    sheet.show();
    for (const char* port : {"65536", "-1"}) {
        SetControlText(&sheet.m_targetPage, 1202, port);
        sheet.accept();
    }
    SetControlText(&sheet.m_targetPage, 1202, "65535");
    qobject_cast<QAbstractButton*>(FindControl(&sheet, 1200))->setChecked(false);

    // "Specify user or group" with no name is refused; "everyone" keeps the name unused.
    sheet.TabSheet().SelectPage(1);
    EXPECT_FALSE(FindControl(&sheet.m_userPage, 1099)->isEnabled());
    ClickControl(&sheet.m_userPage, 1106);
    EXPECT_TRUE(FindControl(&sheet.m_userPage, 1099)->isEnabled());
    SetControlText(&sheet.m_userPage, 1000, "");
    sheet.accept();
    EXPECT_TRUE(sheet.isVisible());
    ASSERT_EQ(boxes.calls.size(), 3u);
    EXPECT_EQ(boxes.calls[0].text, "Please enter a number from 0 to 65535.");
    EXPECT_EQ(boxes.calls[2].text + "|" + boxes.calls[2].title, "You must select a user or group|Error");
    ClickControl(&sheet.m_userPage, 1105);

    // "Specify locations" with both lists empty is accepted, without a question.
    sheet.TabSheet().SelectPage(2);
    ClickControl(&sheet.m_locationPage, 1110);
    qobject_cast<QListWidget*>(FindControl(&sheet.m_locationPage, 1116))->setCurrentRow(0);
    ClickControl(&sheet.m_locationPage, 1119);
    sheet.accept();
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(boxes.calls.size(), 3u);
    EXPECT_EQ(mapping.GetEnabled(), 0u);
    EXPECT_EQ(mapping.GetTarget(), CHostPort("news.example.com", 65535));
    EXPECT_EQ(mapping.GetSpecifyUser(), 0u);
    EXPECT_EQ(mapping.GetUserName(), "staff");
    EXPECT_EQ(mapping.GetSpecifyLocation(), 1u);
    EXPECT_TRUE(mapping.GetIncludedLocations().empty() && mapping.GetExcludedLocations().empty());
}

}  // namespace
