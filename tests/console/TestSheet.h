#pragma once
// A property sheet of three pages over a record, built on the sheet framework the way the
// console's sheets are: "General" (name 1066 of at most 20 characters, port 1068 from 1 to
// 65535, check 1071, password 1001 and its confirmation 1024, confirmed through the Confirm
// Password dialog), "Values" (amount 1048, unsigned limit 1056, ratio 1057, start 1152, time
// 1150, radios 1221-1223 and 1165/1166, combo 1188) and "Checks" (note 1000: an empty one is
// questioned). Pages store into the record under its mutex.

#include "console/PageBases.h"
#include "console/TabSheetDlg.h"
#include "platform/kernel/Sync.h"

struct TestValues {
    bool operator==(const TestValues&) const = default;
    std::string name = "Web", password = "pw", note = "kept", policy = "Mail";
    int port = 8080, method = 1, logging = 0;
    BOOL enabled = 1;
    CCurrency rate = CCurrency(2900);
    DWORD limit = 10;
    double ratio = 0.5;
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

// Each page loads every value from the record and stores its own.
class CTestPage : public CObjectPage<CTestRecord> {
public:
    CTestPage(int templateId, const char* caption);
    BOOL Apply() override { return UpdateData(TRUE); }
    void Store() override;
    TestValues fields;

protected:
    BOOL OnInitDialog() override;
    virtual void StoreOwn(TestValues& values) const = 0;
};

class CTestGeneralPage : public CTestPage {
public:
    CTestGeneralPage();
    std::string confirm;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    void StoreOwn(TestValues& values) const override;
};

class CTestValuesPage : public CTestPage {
public:
    CTestValuesPage();

protected:
    void DoDataExchange(CDataExchange& dx) override;
    void StoreOwn(TestValues& values) const override;
};

class CTestChecksPage : public CTestPage {
public:
    CTestChecksPage();
    BOOL Apply() override;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    void StoreOwn(TestValues& values) const override { values.note = fields.note; }
};

class CTestSheet : public CObjectSheetDlg<CTestRecord> {
public:
    explicit CTestSheet(QWidget* parent = nullptr) : CObjectSheetDlg(900, parent) {}
    CTestGeneralPage general;
    CTestValuesPage values;
    CTestChecksPage checks;
    int applied = 0;

protected:
    void OnInitDialog() override;
    void StoreUnderLock(const std::function<void()>& storeAll) override;
    void OnApplied() override { ++applied; }
};
