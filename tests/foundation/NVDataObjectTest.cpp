#include "foundation/NVDataObject.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

namespace {

using namespace std::string_literals;

TEST(NVDataObjectTest, ConstructorsSetOneFieldAndTheRestIsZero) {
    CNVDataObject none;
    EXPECT_EQ(none.DataType, 0);
    EXPECT_EQ(none.dwData, 0u);
    EXPECT_EQ(none.nData, 0);
    EXPECT_EQ(none.dData, 0.0);
    EXPECT_EQ(none.strData, "");

    CNVDataObject d(DWORD{7});
    EXPECT_EQ(d.DataType, 1);
    EXPECT_EQ(d.dwData, 7u);
    EXPECT_EQ(d.nData, 0);
    CNVDataObject n(-7);
    EXPECT_EQ(n.DataType, 0);
    EXPECT_EQ(n.nData, -7);
    EXPECT_EQ(n.dwData, 0u);
    CNVDataObject x(2.5);
    EXPECT_EQ(x.DataType, 3);
    EXPECT_EQ(x.dData, 2.5);
    CNVDataObject s("text");
    EXPECT_EQ(s.DataType, 2);
    EXPECT_EQ(s.strData, "text");
    EXPECT_EQ(s.nData, 0);

    // Setters change the type and their own field and leave the others.
    s.SetInt(-3);
    s.SetDWORD(9);
    s.SetDouble(1.25);
    EXPECT_EQ(s.DataType, 3);
    EXPECT_EQ(s.nData, -3);
    EXPECT_EQ(s.dwData, 9u);
    EXPECT_EQ(s.strData, "text");
    s.SetString("new");
    EXPECT_EQ(s.DataType, 2);
    EXPECT_EQ(s.dData, 1.25);

    CNVDataObject copy;
    copy.Copy(s);
    EXPECT_EQ(copy.DataType, 2);
    EXPECT_EQ(copy.nData, -3);
    EXPECT_EQ(copy.dwData, 9u);
    EXPECT_EQ(copy.dData, 1.25);
    EXPECT_EQ(copy.strData, "new");
}

TEST(NVDataObjectTest, ComparisonsWithinAndAcrossTypes) {
    // Values that are alike but of different types are never equal, greater or less.
    CNVDataObject int5(5), dword5(DWORD{5}), double5(5.0), text5("5");
    const CNVDataObject* fives[] = {&int5, &dword5, &double5, &text5};
    for (const CNVDataObject* a : fives)
        for (const CNVDataObject* b : fives)
            if (a != b) {
                EXPECT_FALSE(a->IsEqual(*b));
                EXPECT_FALSE(a->IsGreater(*b));
                EXPECT_FALSE(a->IsLess(*b));
            }

    CNVDataObject big(DWORD{0xFFFFFFFF}), one(DWORD{1});
    EXPECT_TRUE(big.IsGreater(one));
    EXPECT_TRUE(one.IsLess(big));
    EXPECT_FALSE(big.IsLess(one));
    CNVDataObject minus(-1), plus(1);
    EXPECT_TRUE(minus.IsLess(plus));
    EXPECT_TRUE(plus.IsGreater(minus));
    EXPECT_TRUE(plus.IsEqual(CNVDataObject(1)));

    CNVDataObject upperB("B"), lowerA("a");
    EXPECT_TRUE(upperB.IsLess(lowerA));
    EXPECT_TRUE(CNVDataObject("abc").IsEqual(CNVDataObject("abc")));
    EXPECT_FALSE(CNVDataObject("abc").IsEqual(CNVDataObject("ABC")));
    EXPECT_TRUE(CNVDataObject("ab").IsLess(CNVDataObject("abc")));
    EXPECT_TRUE(CNVDataObject("\xE9").IsGreater(CNVDataObject("z")));  // bytes are unsigned
    // Every byte counts, also after a NUL.
    EXPECT_TRUE(CNVDataObject("a\0b"s).IsLess(CNVDataObject("a\0c"s)));

    EXPECT_TRUE(CNVDataObject(-0.5).IsLess(CNVDataObject(0.25)));
    EXPECT_TRUE(CNVDataObject(0.0).IsEqual(CNVDataObject(-0.0)));
    CNVDataObject nan(std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(nan.IsEqual(nan));
    EXPECT_FALSE(nan.IsLess(plus));
    EXPECT_FALSE(nan.IsGreater(CNVDataObject(1.0)));

    // An unknown type compares with nothing, itself included.
    CNVDataObject odd;
    odd.DataType = 7;
    EXPECT_FALSE(odd.IsEqual(odd));
}

TEST(NVDataObjectTest, EqualsLooksAtOneFieldWhateverTheType) {
    CNVDataObject value(DWORD{42});
    value.nData = -1;
    value.dData = 0.5;
    value.strData = "x";
    EXPECT_TRUE(value.EqualsDWORD(42));
    EXPECT_TRUE(value.EqualsInt(-1));
    EXPECT_TRUE(value.EqualsDouble(0.5));
    EXPECT_TRUE(value.EqualsString("x"));
    EXPECT_FALSE(value.EqualsInt(42));
    EXPECT_FALSE(value.EqualsString("X"));
}

TEST(NVDataObjectTest, ArchiveFieldsInOrder) {
    CNVDataObject value("hi");
    value.dwData = 0xAABBCCDD;
    value.nData = -2;
    value.dData = 1.0;
    std::vector<std::uint8_t> bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&value); });
    Bytes expected(
        "ff ff 01 00 0d 00"  // new class record, schema 1, name length 13
        "43 4e 56 44 61 74 61 4f 62 6a 65 63 74"  // CNVDataObject
        "02 00 00 00"                 // DataType 2
        "dd cc bb aa"                 // dwData
        "fe ff ff ff"                 // nData -2
        "00 00 00 00 00 00 f0 3f"     // dData 1.0
        "02 68 69");                  // strData "hi"
    EXPECT_EQ(expected, bytes) << HexDump(bytes);

    std::unique_ptr<CNVDataObject> loaded;
    EXPECT_TRUE(LoadBytes(expected, [&](CArchive& ar) {
        loaded = ar.ReadOwnedObject<CNVDataObject>();
    }));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->DataType, 2);
    EXPECT_EQ(loaded->dwData, 0xAABBCCDDu);
    EXPECT_EQ(loaded->nData, -2);
    EXPECT_EQ(loaded->dData, 1.0);
    EXPECT_EQ(loaded->strData, "hi");
}

TEST(NVDataObjectTest, AStreamEndingInsideTheFieldsDoesNotFailTheReadByItself) {
    Bytes truncated(
        "ff ff 01 00 0d 00 43 4e 56 44 61 74 61 4f 62 6a 65 63 74"
        "01 00 00 00"   // DataType 1
        "07 00 00 00"   // dwData 7
        "ff ff");       // two bytes of nData
    std::unique_ptr<CNVDataObject> loaded;
    DWORD after = 0;
    CArchiveException::Cause cause = LoadFailure(truncated, [&](CArchive& ar) {
        loaded = ar.ReadOwnedObject<CNVDataObject>();
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->DataType, 1);
        EXPECT_EQ(loaded->dwData, 7u);
        EXPECT_EQ(loaded->nData, 0);  // not read: keeps its value
        EXPECT_EQ(loaded->strData, "");
        ar >> after;  // the caller's own next read meets the end
    });
    EXPECT_EQ(cause, CArchiveException::endOfFile);
    EXPECT_TRUE(loaded);
}

TEST(NVDataObjectTest, AFailureWhileStoringIsPassedOn) {
    TempDir dir;
    std::string path = dir.Path() + "/readonly.bin";
    {
        CFile create;
        ASSERT_TRUE(create.Open(path, CFile::modeWrite | CFile::modeCreate));
    }
    CFile file;
    ASSERT_TRUE(file.Open(path, CFile::modeRead));
    CNVDataObject value(std::string(1000, 'x'));  // more than the archive's block
    CArchive ar(&file, CArchive::store, 128);
    EXPECT_TRUE(ThrowsPtr<CFileException>([&] { ar.WriteObject(&value); }));
    ar.Abort();
}

TEST(NVDataObjectTest, RegistryRoundTripKeepsEveryFieldBitForBit) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    CNVDataObject value("a\0b\xFF"s);
    value.dwData = 0xFFFFFFFF;
    value.nData = std::numeric_limits<std::int32_t>::min();
    value.dData = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});  // a NaN payload
    ASSERT_TRUE(value.SaveToRegistry("Criteria\\Criterion0"));
    EXPECT_EQ(RegReadDWORD("Criteria\\Criterion0", "DataType", 99), 2u);
    EXPECT_EQ(RegReadDWORD("Criteria\\Criterion0", "nData", 0), 0x80000000u);
    EXPECT_EQ(RegReadString("Criteria\\Criterion0", "strData", ""), "a\0b\xFF"s);

    CNVDataObject loaded(1.0);
    loaded.LoadFromRegistry("Criteria\\Criterion0");
    EXPECT_EQ(loaded.DataType, 2);
    EXPECT_EQ(loaded.dwData, 0xFFFFFFFFu);
    EXPECT_EQ(loaded.nData, std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(loaded.dData), 0x7FF8000000000123u);
    EXPECT_EQ(loaded.strData, "a\0b\xFF"s);

    CNVDataObject negativeZero(-0.0);
    negativeZero.SaveToRegistry("Zero");
    CNVDataObject zeroLoaded;
    zeroLoaded.LoadFromRegistry("Zero");
    EXPECT_TRUE(std::signbit(zeroLoaded.dData));

    // Missing values read as the defaults.
    CNVDataObject defaults(DWORD{5});
    defaults.strData = "old";
    defaults.LoadFromRegistry("Nothing\\Here");
    EXPECT_EQ(defaults.DataType, 0);
    EXPECT_EQ(defaults.dwData, 0u);
    EXPECT_EQ(defaults.dData, 0.0);
    EXPECT_EQ(defaults.strData, "");
}

TEST(NVDataObjectTest, CreatedByName) {
    std::unique_ptr<CObject> object(CRuntimeClass::CreateObject("CNVDataObject"));
    ASSERT_TRUE(object);
    EXPECT_TRUE(object->IsKindOf(RUNTIME_CLASS(CNVDataObject)));
    EXPECT_EQ(RUNTIME_CLASS(CNVDataObject)->GetSchema(), 1);
    EXPECT_EQ(static_cast<CNVDataObject*>(object.get())->strData, "");
}

}  // namespace
