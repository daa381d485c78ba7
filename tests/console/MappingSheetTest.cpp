// The mapping sheet: who owns a new mapping after OK and Cancel, the target page's port range
// and its enabled box, and the User and Location pages' cases.

#include "console/dialogs/MappingSheet.h"
#include "proxies/mapping/Mappings.h"
#include "tests/console/ConsoleTestKit.h"

#include <QAbstractButton>

#include <gtest/gtest.h>

namespace {

// A mapping that counts its own end.
struct CountedMapping : CMapping {
    ~CountedMapping() override { ++freed; }
    static inline int freed = 0;
};

class MappingSheet : public testing::Test {
protected:
    void SetUp() override {
        mapping.SetTarget("news.example.com", 119);
        CountedMapping::freed = 0;
    }
    void Uncheck(QWidget* page, int id) { qobject_cast<QAbstractButton*>(FindControl(page, id))->setChecked(false); }

    CRecordingSession session;
    CBoxRecorder boxes;
    CMapping mapping;
};

TEST_F(MappingSheet, NewMappingsBelongToTheSheetUntilTakenAndCancelFreesThem) {
    {  // Cancel: freed by the sheet, once.
        CMappingSheet sheet(new CountedMapping, FALSE);
        sheet.show();
        EXPECT_EQ(sheet.windowTitle(), "Mapping Properties");
        sheet.reject();
        EXPECT_EQ(CountedMapping::freed, 1);
    }
    EXPECT_EQ(CountedMapping::freed, 1);
    CMappings table;
    {  // OK: the caller takes it; the sheet's end leaves it.
        CMappingSheet sheet(new CountedMapping, FALSE, &table);
        sheet.show();
        SetControlText(&sheet.m_targetPage, 1201, "pop.example.com");
        SetControlText(&sheet.m_targetPage, 1202, "110");
        sheet.accept();
        ASSERT_EQ(sheet.result(), QDialog::Accepted);
        table.AddMapping(sheet.TakeNewObject().Detach());
    }
    EXPECT_EQ(CountedMapping::freed, 1);
    ASSERT_EQ(table.GetMappingCount(), 1u);
    EXPECT_EQ(table.GetMappings()[0]->GetTarget(), CHostPort("pop.example.com", 110));
    EXPECT_TRUE(session.requests.empty());
}

TEST_F(MappingSheet, PortsOutsideTheirRangeAreRefusedAndDisablingKeepsTheTarget) {
    CMappingSheet sheet(&mapping, TRUE);
    sheet.show();
    for (const char* port : {"65536", "-1", "http"}) {
        SetControlText(&sheet.m_targetPage, 1202, port);
        sheet.accept();
        EXPECT_TRUE(sheet.isVisible()) << port;
    }
    EXPECT_EQ(boxes.calls.size(), 3u);
    EXPECT_EQ(boxes.calls[0].text, "Please enter a number from 0 to 65535.");
    SetControlText(&sheet.m_targetPage, 1202, "65535");
    Uncheck(&sheet.m_targetPage, 1200);
    sheet.accept();
    EXPECT_EQ(mapping.GetEnabled(), 0u);
    EXPECT_EQ(mapping.GetTarget(), CHostPort("news.example.com", 65535));
}

}  // namespace
