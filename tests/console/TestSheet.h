#pragma once
// A property sheet of three pages over a record, built on the sheet framework the way the
// console's sheets are: "General" (name 1066 of at most 20 characters, port 1068 from 1 to
// 65535, check 1071, password 1001 and its confirmation 1024, confirmed through the Confirm
// Password dialog), "Values" (amount 1048, start 1152, time 1150, radios 1221-1223, combo 1188)
// and "Checks" (note 1000: an empty one is questioned). Pages store under the record's mutex.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"
#include "platform/kernel/Sync.h"

struct TestValues {
    bool operator==(const TestValues&) const = default;
    std::string name = "Web", password = "pw", note = "kept", policy = "Mail";
    int port = 8080, method = 1;
    BOOL enabled = 1;
    CCurrency rate = CCurrency(2900);
    CDateTime start = CDateTime::FromParts(2024, 2, 29, 9, 0, 0), time = CDateTime::FromTime(17, 0, 0);
};

class CTestRecord : public CObject {
public:
    CTestRecord() { ++alive; }
    ~CTestRecord() override { --alive; }
    TestValues values;
    CMutex mutex;  // the lock of the record's container
    int storesUnderLock = 0, storesWithoutLock = 0;
    static inline int alive = 0;
};

// Each page loads every value from the record, exchanges and stores its own.
class CTestPage : public CObjectPage<CTestRecord> {
public:
    CTestPage(int templateId, const char* caption);
    BOOL Apply() override;
    void Store() override;
    TestValues fields;
    std::string confirm;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
};

class CTestSheet : public CObjectSheetDlg<CTestRecord> {
public:
    explicit CTestSheet(QWidget* parent = nullptr);
    CTestPage general{901, "General"}, values{902, "Values"}, checks{903, "Checks"};
    int applied = 0;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;
    void OnApplied() override { ++applied; }
};
