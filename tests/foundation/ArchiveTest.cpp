#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "support/ArchiveHelpers.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <list>
#include <memory>
#include <string>
#include <vector>

// Serialisable classes of this test. Each counts its live objects so that tests can see that a
// failed load frees what it made.
class CTestPoint : public CObject {
    DECLARE_SERIAL(CTestPoint)
public:
    CTestPoint() { ++live; }
    CTestPoint(DWORD x, std::string label) : x(x), label(std::move(label)) { ++live; }
    ~CTestPoint() override { --live; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring())
            ar << x << label;
        else
            ar >> x >> label;
    }
    DWORD x = 0;
    std::string label;
    static inline int live = 0;
};
IMPLEMENT_SERIAL(CTestPoint, CObject, 1)

class CTestEmpty : public CObject {
    DECLARE_SERIAL(CTestEmpty)
};
IMPLEMENT_SERIAL(CTestEmpty, CObject, 1)

class CTestOther : public CObject {
    DECLARE_SERIAL(CTestOther)
};
IMPLEMENT_SERIAL(CTestOther, CObject, 1)

// Owns one child, read with the owning read.
class CTestNode : public CObject {
    DECLARE_SERIAL(CTestNode)
public:
    CTestNode() { ++live; }
    ~CTestNode() override { --live; }
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring())
            ar.WriteObject(child.get());
        else
            child.reset(ar.ReadOwnedObject(nullptr, true));
    }
    std::unique_ptr<CObject> child;
    static inline int live = 0;
};
IMPLEMENT_SERIAL(CTestNode, CObject, 1)

// Two non-owning references: the graph belongs to the test.
class CTestPair : public CObject {
    DECLARE_SERIAL(CTestPair)
public:
    void Serialize(CArchive& ar) override {
        if (ar.IsStoring()) {
            ar.WriteObject(first);
            ar.WriteObject(second);
        } else {
            first = ar.ReadObject();
            second = ar.ReadObject();
        }
    }
    CObject* first = nullptr;
    CObject* second = nullptr;
};
IMPLEMENT_SERIAL(CTestPair, CObject, 1)

// Drops a failure of its first reference and goes on, as some of the system's classes do.
class CTestForgiving : public CObject {
    DECLARE_SERIAL(CTestForgiving)
public:
    void Serialize(CArchive& ar) override {
        try {
            first.reset(ar.ReadObject());
        } catch (CArchiveException* e) {
            e->Delete();
        }
        second = ar.ReadObject();
    }
    std::unique_ptr<CObject> first;
    CObject* second = nullptr;
};
IMPLEMENT_SERIAL(CTestForgiving, CObject, 1)

// Created by name, never in a stream.
class CTestSocketLike : public CObject {
    DECLARE_DYNCREATE(CTestSocketLike)
};
IMPLEMENT_DYNCREATE(CTestSocketLike, CObject)

namespace {

using Cause = CArchiveException::Cause;

// The class record of CTestPoint as the first entry: FF FF, schema 1, name length, name.
Bytes PointRecord() {
    return Bytes("FF FF 01 00").Word(10).Text("CTestPoint");
}

TEST(ArchiveTest, PrimitivesHaveTheirExactWidthsLittleEndian) {
    auto bytes = StoreBytes([](CArchive& ar) {
        ar << BYTE{0xAB} << 'z' << WORD{0x1234} << std::int16_t{-2} << DWORD{0x89ABCDEF} << -3
           << 1.0f << 2.5;
    });
    EXPECT_EQ(Bytes("AB 7A 34 12 FE FF EF CD AB 89 FD FF FF FF 00 00 80 3F"
                    "00 00 00 00 00 00 04 40"),
              bytes);
    BYTE b;
    char c;
    WORD w;
    std::int16_t s;
    DWORD d;
    int i;
    float f;
    double g;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { ar >> b >> c >> w >> s >> d >> i >> f >> g; }));
    EXPECT_EQ(b, 0xAB);
    EXPECT_EQ(c, 'z');
    EXPECT_EQ(w, 0x1234);
    EXPECT_EQ(s, -2);
    EXPECT_EQ(d, 0x89ABCDEFu);
    EXPECT_EQ(i, -3);
    EXPECT_EQ(f, 1.0f);
    EXPECT_EQ(g, 2.5);
}

TEST(ArchiveTest, StringLengthPrefixesAtEveryThreshold) {
    struct Case {
        std::size_t length;
        const char* prefix;
    } cases[] = {{0, "00"},
                 {1, "01"},
                 {254, "FE"},
                 {255, "FF FF 00"},
                 {65533, "FF FD FF"},
                 {65534, "FF FF FF FE FF 00 00"},
                 {65535, "FF FF FF FF FF 00 00"},
                 {70000, "FF FF FF 70 11 01 00"}};
    for (const Case& c : cases) {
        std::string text(c.length, 'x');
        for (std::size_t i = 0; i < text.size(); i += 7)
            text[i] = static_cast<char>(i % 256);  // NUL and high bytes travel as they are
        auto bytes = StoreBytes([&](CArchive& ar) { ar << text; });
        Bytes expected(c.prefix);
        expected.Text(text);
        EXPECT_EQ(expected, bytes) << "length " << c.length;
        std::string back;
        EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { ar >> back; }));
        EXPECT_EQ(back, text) << "length " << c.length;
    }
}

TEST(ArchiveTest, WideStringsAreReadAsBytes) {
    std::string text;
    Bytes wide("FF FE FF 04 61 00 E9 00 00 01 62 00");
    EXPECT_TRUE(LoadBytes(wide, [&](CArchive& ar) { ar >> text; }));
    EXPECT_EQ(text, "a\xE9?b");
    // The second prefix follows the ordinary rule, long form included.
    Bytes longWide("FF FE FF FF 00 01");
    longWide.Repeat(Bytes("41 00"), 256);
    EXPECT_TRUE(LoadBytes(longWide, [&](CArchive& ar) { ar >> text; }));
    EXPECT_EQ(text, std::string(256, 'A'));
    // A second wide marker is malformed.
    EXPECT_EQ(LoadFailure(Bytes("FF FE FF FF FE FF 01 41 00"), [&](CArchive& ar) { ar >> text; }),
              CArchiveException::generic);
}

TEST(ArchiveTest, CountPrefix) {
    auto bytes = StoreBytes([](CArchive& ar) {
        ar.WriteCount(0);
        ar.WriteCount(0xFFFE);
        ar.WriteCount(0xFFFF);
        ar.WriteCount(0x12345);
    });
    EXPECT_EQ(Bytes("00 00 FE FF FF FF FF FF 00 00 FF FF 45 23 01 00"), bytes);
    // Reading needs the elements' bytes to be there: give each one byte.
    Bytes withRoom;
    for (std::uint8_t b : bytes)
        withRoom.Byte(b);
    withRoom.Repeat(Bytes("00"), 0x12345 + 0xFFFF + 0xFFFE);
    std::vector<DWORD> counts;
    LoadBytes(withRoom, [&](CArchive& ar) {
        for (int i = 0; i < 4; ++i)
            counts.push_back(ar.ReadCount());
    });
    EXPECT_EQ(counts, (std::vector<DWORD>{0, 0xFFFE, 0xFFFF, 0x12345}));
}

TEST(ArchiveTest, StringListIsCountThenStrings) {
    std::list<std::string> list{"a", "", "bc"};
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteStringList(list); });
    EXPECT_EQ(Bytes("03 00 01 61 00 02 62 63"), bytes);
    std::vector<std::string> back{"kept"};
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { ar.ReadStringList(back); }));
    EXPECT_EQ(back, (std::vector<std::string>{"kept", "a", "", "bc"}));
}

TEST(ArchiveTest, DateTimeAndCurrencyForms) {
    const CDateTime when(1.5);
    const CDateTime invalid(-2.25, CDateTime::invalid);
    const CCurrency amount(0x0000000100000002LL);
    const CCurrency negative(-2);
    auto bytes = StoreBytes([&](CArchive& ar) { ar << when << invalid << amount << negative; });
    EXPECT_EQ(Bytes("00 00 00 00  00 00 00 00 00 00 F8 3F"
                    "01 00 00 00  00 00 00 00 00 00 02 C0"
                    "00 00 00 00  01 00 00 00  02 00 00 00"
                    "00 00 00 00  FF FF FF FF  FE FF FF FF"),
              bytes);
    CDateTime a, b;
    CCurrency c, d;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { ar >> a >> b >> c >> d; }));
    EXPECT_EQ(a, when);
    EXPECT_EQ(b, invalid);
    EXPECT_FALSE(b.IsValid());
    EXPECT_EQ(c, amount);
    EXPECT_EQ(d, negative);
    EXPECT_EQ(d.GetHigh(), -1);
    EXPECT_EQ(d.GetLow(), 0xFFFFFFFEu);
}

TEST(ArchiveTest, TimeStampsAreUnsignedFourBytes) {
    auto bytes = StoreBytes([](CArchive& ar) {
        ar.WriteTime(0x7FFFFFFF);
        ar.WriteTime(std::time_t{0xFFFFFFFF});  // 2106-02-07
        ar.WriteTime(std::time_t{0x80000000});
    });
    EXPECT_EQ(Bytes("FF FF FF 7F FF FF FF FF 00 00 00 80"), bytes);
    std::vector<std::time_t> times;
    LoadBytes(bytes, [&](CArchive& ar) {
        for (int i = 0; i < 3; ++i)
            times.push_back(ar.ReadTime());
    });
    EXPECT_EQ(times, (std::vector<std::time_t>{0x7FFFFFFF, 0xFFFFFFFF, 0x80000000}));
}

TEST(ArchiveTest, ClassRecordThenObject) {
    CTestPoint point(5, "ab");
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&point); });
    EXPECT_EQ(PointRecord().Hex("05 00 00 00 02 61 62"), bytes);
    std::unique_ptr<CObject> back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back.reset(ar.ReadObject()); }));
    auto* p = dynamic_cast<CTestPoint*>(back.get());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->x, 5u);
    EXPECT_EQ(p->label, "ab");
}

TEST(ArchiveTest, SecondObjectOfAClassRefersToTheClassEntry) {
    CTestPoint first(1, "a"), second(2, "");
    auto bytes = StoreBytes([&](CArchive& ar) {
        ar.WriteObject(nullptr);
        ar.WriteObject(&first);
        ar.WriteObject(&second);
    });
    // Class = entry 1, first = entry 2; the second object is 0x8000 + 1.
    EXPECT_EQ(Bytes("00 00").Append(PointRecord()).Hex("01 00 00 00 01 61  01 80 02 00 00 00 00"),
              bytes);
}

TEST(ArchiveTest, ObjectWrittenTwiceIsReadAsOneSharedObject) {
    CTestPoint point(7, "p");
    CTestPair pair;
    pair.first = &point;
    pair.second = &point;
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&pair); });
    // Pair class 1, pair 2, point class 3, point 4, then the back-reference 4.
    Bytes expected("FF FF 01 00");
    expected.Word(9).Text("CTestPair").Hex("FF FF 01 00").Word(10).Text("CTestPoint");
    expected.Hex("07 00 00 00 01 70 04 00");
    EXPECT_EQ(expected, bytes);
    std::unique_ptr<CTestPair> back;
    LoadBytes(bytes, [&](CArchive& ar) { back.reset(ar.ReadObject<CTestPair>()); });
    ASSERT_TRUE(back && back->first);
    EXPECT_EQ(back->first, back->second);
    delete back->first;
}

TEST(ArchiveTest, ReferenceBackToTheEnclosingObjectResolves) {
    CTestPair pair;
    pair.first = &pair;
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&pair); });
    EXPECT_EQ(Bytes("FF FF 01 00").Word(9).Text("CTestPair").Hex("02 00 00 00"), bytes);
    std::unique_ptr<CTestPair> back;
    LoadBytes(bytes, [&](CArchive& ar) { back.reset(ar.ReadObject<CTestPair>()); });
    EXPECT_EQ(back->first, back.get());
    EXPECT_EQ(back->second, nullptr);
}

TEST(ArchiveTest, EntriesFrom0x7FFFUseTheEscape) {
    // 0x7FFD empty objects: class entry 1, objects 2 .. 0x7FFE.
    const std::size_t n = 0x7FFD;
    std::vector<std::unique_ptr<CTestEmpty>> empties;
    for (std::size_t i = 0; i < n; ++i)
        empties.push_back(std::make_unique<CTestEmpty>());
    CTestOther other1, other2;
    CTestEmpty extra;
    auto bytes = StoreBytes([&](CArchive& ar) {
        for (auto& e : empties)
            ar.WriteObject(e.get());
        ar.WriteObject(&other1);          // class 0x7FFF, object 0x8000
        ar.WriteObject(&other2);          // object 0x8001 of class 0x7FFF
        ar.WriteObject(empties.back().get());  // entry 0x7FFE
        ar.WriteObject(&other1);          // entry 0x8000
        ar.WriteObject(&extra);           // class 1, object 0x8002
    });
    Bytes expected("FF FF 01 00");
    expected.Word(10).Text("CTestEmpty").Repeat(Bytes("01 80"), n - 1);
    expected.Hex("FF FF 01 00").Word(10).Text("CTestOther");
    expected.Hex("FF 7F FF 7F 00 80");
    expected.Hex("FE 7F");
    expected.Hex("FF 7F 00 80 00 00");
    expected.Hex("01 80");
    ASSERT_EQ(expected, bytes) << HexDump(bytes);

    std::vector<std::unique_ptr<CObject>> owned;
    std::vector<CObject*> refs;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) {
        for (std::size_t i = 0; i < n + 2; ++i)
            owned.emplace_back(ar.ReadObject());
        refs.push_back(ar.ReadObject());
        refs.push_back(ar.ReadObject());
        owned.emplace_back(ar.ReadObject());
    }));
    EXPECT_TRUE(owned[n]->IsKindOf(RUNTIME_CLASS(CTestOther)));
    EXPECT_TRUE(owned[n + 1]->IsKindOf(RUNTIME_CLASS(CTestOther)));
    EXPECT_EQ(refs[0], owned[n - 1].get());
    EXPECT_EQ(refs[1], owned[n].get());
    EXPECT_TRUE(owned[n + 2]->IsKindOf(RUNTIME_CLASS(CTestEmpty)));
}

TEST(ArchiveTest, ReaderAcceptsEscapedFormsOfSmallEntries) {
    // New object of class 1 and a back-reference to entry 2, both through the escape.
    Bytes stream = PointRecord().Hex("01 00 00 00 00");
    stream.Hex("FF 7F 01 00 00 80  02 00 00 00 00  FF 7F 02 00 00 00");
    std::vector<std::unique_ptr<CObject>> objects;
    CObject* ref = nullptr;
    EXPECT_TRUE(LoadBytes(stream, [&](CArchive& ar) {
        objects.emplace_back(ar.ReadObject());
        objects.emplace_back(ar.ReadObject());
        ref = ar.ReadObject();
    }));
    EXPECT_EQ(static_cast<CTestPoint*>(objects[1].get())->x, 2u);
    EXPECT_EQ(ref, objects[0].get());
}

TEST(ArchiveTest, BlockSizeDoesNotChangeTheBytes) {
    CTestPoint point(9, std::string(300, 'q'));
    auto write = [&](CArchive& ar) {
        for (int i = 0; i < 50; ++i)
            ar << DWORD(i) << std::string(static_cast<std::size_t>(i) * 13, 'z');
        ar.WriteObject(&point);
    };
    const auto reference = StoreBytes(write, 128);
    EXPECT_EQ(StoreBytes(write, 1), reference);  // raised to 128
    EXPECT_EQ(StoreBytes(write, 4096), reference);
    EXPECT_EQ(StoreBytes(write, 200), reference);
    for (std::size_t size : {1, 200, 32768}) {
        std::unique_ptr<CObject> back;
        EXPECT_TRUE(LoadBytes(
            reference,
            [&](CArchive& ar) {
                for (int i = 0; i < 50; ++i) {
                    DWORD d;
                    std::string s;
                    ar >> d >> s;
                    ASSERT_EQ(d, DWORD(i));
                    ASSERT_EQ(s.size(), static_cast<std::size_t>(i) * 13);
                }
                back.reset(ar.ReadObject());
            },
            size));
        EXPECT_EQ(static_cast<CTestPoint*>(back.get())->label, point.label);
    }
}

TEST(ArchiveTest, FileArchiveRecordsUntilTheCleanEnd) {
    TempDir dir;
    const std::string path = dir.Path() + "/records.idx";
    {
        CFile file;
        ASSERT_TRUE(file.Open(path, CFile::modeWrite | CFile::modeCreate));
        CArchive ar(&file, CArchive::store, 1024);
        for (DWORD i = 0; i < 1000; ++i) {
            CTestPoint record(i, "record " + std::to_string(i));
            record.Serialize(ar);  // records without class information
        }
        ar.Close();
        EXPECT_EQ(file.GetPosition(), file.GetLength());
    }
    CFile file;
    ASSERT_TRUE(file.Open(path, CFile::modeReadWrite));
    CArchive ar(&file, CArchive::load, 32768);
    DWORD count = 0;
    while (!ar.IsAtEnd()) {
        CTestPoint record;
        record.Serialize(ar);
        EXPECT_EQ(record.x, count);
        ++count;
    }
    EXPECT_EQ(count, 1000u);
    ar.Close();
    EXPECT_EQ(file.GetPosition(), file.GetLength());
}

TEST(ArchiveTest, LoadCloseLeavesTheStoreAtTheFirstUnreadByte) {
    Bytes stream("01 02 03 04 05 06");
    CMemFile file(stream.Get().data(), stream.Size());
    {
        CArchive ar(&file, CArchive::load);
        WORD w;
        ar >> w;
        EXPECT_EQ(w, 0x0201);
    }
    EXPECT_EQ(file.GetPosition(), 2u);
}

TEST(ArchiveTest, DestructorFlushesUnlessAnExceptionUnwinds) {
    CMemFile kept;
    {
        CArchive ar(&kept, CArchive::store);
        ar << DWORD{1};
    }
    EXPECT_EQ(kept.GetLength(), 4u);
    CMemFile dropped;
    try {
        CArchive ar(&dropped, CArchive::store);
        ar << DWORD{1};
        throw std::runtime_error("abandon");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(dropped.GetLength(), 0u);
}

TEST(ArchiveTest, WrongDirectionAndClosedArchivesFail) {
    CMemFile file;
    CArchive storing(&file, CArchive::store);
    DWORD d;
    EXPECT_EQ(LoadFailure(Bytes(), [&](CArchive&) { storing >> d; }), CArchiveException::writeOnly);
    CArchive loading(&file, CArchive::load);
    EXPECT_EQ(LoadFailure(Bytes(), [&](CArchive&) { loading << d; }), CArchiveException::readOnly);
    storing.Close();
    EXPECT_TRUE(ThrowsPtr<CArchiveException>([&] { storing << d; }));
}

// --- failures of hostile and damaged streams ---------------------------------------------

TEST(ArchiveTest, EndOfFileCauses) {
    auto readDword = [](CArchive& ar) {
        DWORD d;
        ar >> d;
    };
    auto readString = [](CArchive& ar) { ar.ReadString(); };
    auto readObject = [](CArchive& ar) { delete ar.ReadObject(); };
    EXPECT_EQ(LoadFailure(Bytes("01 02 03"), readDword), CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes("05 61 62"), readString), CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes("FF FF 01 00 0A 00 43 54 65"), readObject),
              CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(PointRecord().Hex("01 00 00 00 05 61"), readObject),
              CArchiveException::endOfFile);
    EXPECT_EQ(CTestPoint::live, 0);
}

TEST(ArchiveTest, ClaimedLengthsAndCountsBeyondTheStreamAreRefusedBeforeAllocating) {
    auto readString = [](CArchive& ar) { ar.ReadString(); };
    EXPECT_EQ(LoadFailure(Bytes("FF FF FF FF FF FF 7F 41 41"), readString),
              CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes("FF FE FF FF FF FF FF FF 7F 41 00"), readString),
              CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes("FF FF FF FF FF FF"), [](CArchive& ar) { ar.ReadCount(); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes("10 00").Repeat(Bytes("00"), 31),
                          [](CArchive& ar) { ar.ReadCount(2); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(LoadFailure(Bytes("10 00").Repeat(Bytes("00"), 32),
                          [](CArchive& ar) { ar.ReadCount(2); }),
              CArchiveException::none);
    std::vector<std::string> list;
    EXPECT_EQ(LoadFailure(Bytes("FF FF 00 00 00 10 00"),
                          [&](CArchive& ar) { ar.ReadStringList(list); }),
              CArchiveException::endOfFile);
}

TEST(ArchiveTest, BadIndexCauses) {
    auto readObject = [](CArchive& ar) { delete ar.ReadObject(); };
    // A reference to an entry not read yet.
    EXPECT_EQ(LoadFailure(Bytes("01 00"), readObject), CArchiveException::badIndex);
    EXPECT_EQ(LoadFailure(Bytes("FF 7F 00 00 01 00"), readObject), CArchiveException::badIndex);
    // Class entry 0, and a class entry not read yet.
    EXPECT_EQ(LoadFailure(Bytes("00 80"), readObject), CArchiveException::badIndex);
    EXPECT_EQ(LoadFailure(Bytes("05 80"), readObject), CArchiveException::badIndex);
    EXPECT_EQ(LoadFailure(Bytes("FF 7F FF FF FF FF"), readObject), CArchiveException::badIndex);
    // An object entry where a class belongs, and a class entry where an object belongs.
    auto readTwo = [](CArchive& ar) {
        std::unique_ptr<CObject> first(ar.ReadObject());
        delete ar.ReadObject();
    };
    EXPECT_EQ(LoadFailure(PointRecord().Hex("01 00 00 00 00 02 80"), readTwo),
              CArchiveException::badIndex);
    EXPECT_EQ(LoadFailure(PointRecord().Hex("01 00 00 00 00 01 00"), readTwo),
              CArchiveException::badIndex);
    EXPECT_EQ(CTestPoint::live, 0);
}

TEST(ArchiveTest, TooManyEntriesFailWithBadIndex) {
    Bytes stream = PointRecord().Hex("01 00 00 00 00").Hex("01 80 02 00 00 00 00");
    auto readTwo = [](CArchiveException::Cause* cause, const Bytes& bytes, DWORD limit) {
        CMemFile file(bytes.Get().data(), bytes.Size());
        CArchive ar(&file, CArchive::load);
        ar.LimitEntries(limit);
        std::vector<std::unique_ptr<CObject>> objects;
        try {
            objects.emplace_back(ar.ReadObject());
            objects.emplace_back(ar.ReadObject());
            *cause = CArchiveException::none;
        } catch (CArchiveException* e) {
            *cause = e->GetCause();
            e->Delete();
        }
    };
    Cause cause;
    readTwo(&cause, stream, 3);
    EXPECT_EQ(cause, CArchiveException::none);
    readTwo(&cause, stream, 2);
    EXPECT_EQ(cause, CArchiveException::badIndex);
    EXPECT_EQ(CTestPoint::live, 0);

    CMemFile file;
    CArchive ar(&file, CArchive::store);
    ar.LimitEntries(2);
    CTestPoint a, b;
    ar.WriteObject(&a);
    EXPECT_TRUE(ThrowsPtr<CArchiveException>([&] { ar.WriteObject(&b); }));
}

TEST(ArchiveTest, BadClassCauses) {
    auto readObject = [](CArchive& ar) { delete ar.ReadObject(); };
    EXPECT_EQ(LoadFailure(Bytes("FF FF 01 00 07 00").Text("CNoSuch"), readObject),
              CArchiveException::badClass);
    // Names are exact and case-sensitive.
    EXPECT_EQ(LoadFailure(Bytes("FF FF 01 00 0A 00").Text("ctestpoint").Hex("00 00 00 00 00"),
                          readObject),
              CArchiveException::badClass);
    // A name of 64 bytes or more is refused before it is read.
    EXPECT_EQ(LoadFailure(Bytes("FF FF 01 00 40 00").Repeat(Bytes("41"), 64), readObject),
              CArchiveException::badClass);
    // A class other than the one expected, new or already read.
    Bytes point = PointRecord().Hex("01 00 00 00 00");
    EXPECT_EQ(LoadFailure(point, [](CArchive& ar) { delete ar.ReadObject<CTestNode>(); }),
              CArchiveException::badClass);
    EXPECT_EQ(LoadFailure(Bytes(point).Hex("02 00"),
                          [](CArchive& ar) {
                              std::unique_ptr<CObject> first(ar.ReadObject());
                              ar.ReadObject(RUNTIME_CLASS(CTestNode));
                          }),
              CArchiveException::badClass);
    EXPECT_EQ(CTestPoint::live, 0);
    EXPECT_EQ(CTestNode::live, 0);
}

TEST(ArchiveTest, BadSchemaAndClassesThatNeverTravel) {
    auto readObject = [](CArchive& ar) { delete ar.ReadObject(); };
    EXPECT_EQ(LoadFailure(Bytes("FF FF 02 00 0A 00").Text("CTestPoint").Hex("00 00 00 00 00"),
                          readObject),
              CArchiveException::badSchema);
    Bytes socketLike("FF FF FF FF 0F 00");
    socketLike.Text("CTestSocketLike");
    EXPECT_TRUE(ThrowsPtr<CNotSupportedException>([&] { LoadBytes(socketLike, readObject); }));
    CTestSocketLike object;
    EXPECT_TRUE(ThrowsPtr<CNotSupportedException>(
        [&] { StoreBytes([&](CArchive& ar) { ar.WriteObject(&object); }); }));
    // Classes known to run-time checks only are not even registered.
    EXPECT_EQ(LoadFailure(Bytes("FF FF FF FF 07 00").Text("CObject"), readObject),
              CArchiveException::badClass);
}

TEST(ArchiveTest, NestingDeeperThanTheLimitFailsAndFreesEveryLevel) {
    auto chain = [](int depth) {
        auto top = std::make_unique<CTestNode>();
        CTestNode* last = top.get();
        for (int i = 1; i < depth; ++i) {
            auto next = std::make_unique<CTestNode>();
            CTestNode* raw = next.get();
            last->child = std::move(next);
            last = raw;
        }
        return top;
    };
    auto ok = chain(ArchiveFormat::kMaxNestingDepth);
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(ok.get()); });
    ok.reset();
    std::unique_ptr<CTestNode> back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back = ar.ReadOwnedObject<CTestNode>(); }));
    EXPECT_EQ(CTestNode::live, ArchiveFormat::kMaxNestingDepth);
    back.reset();

    // One level more: the writer refuses, and a hand-made stream is refused by the reader.
    auto deep = chain(ArchiveFormat::kMaxNestingDepth + 1);
    EXPECT_TRUE(ThrowsPtr<CArchiveException>(
        [&] { StoreBytes([&](CArchive& ar) { ar.WriteObject(deep.get()); }); }));
    deep.reset();
    Bytes stream("FF FF 01 00");
    stream.Word(9).Text("CTestNode").Repeat(Bytes("01 80"), ArchiveFormat::kMaxNestingDepth);
    stream.Hex("00 00");
    EXPECT_EQ(LoadFailure(stream, [](CArchive& ar) { delete ar.ReadObject(); }),
              CArchiveException::badIndex);
    EXPECT_EQ(CTestNode::live, 0);
}

TEST(ArchiveTest, OwningReadRefusesBackReferencesNullAndForeignClasses) {
    // A node whose child refers back to the node itself: one object with two owners.
    Bytes selfOwned("FF FF 01 00");
    selfOwned.Word(9).Text("CTestNode").Hex("02 00");
    EXPECT_EQ(LoadFailure(selfOwned, [](CArchive& ar) { ar.ReadOwnedObject<CTestNode>(); }),
              CArchiveException::badIndex);
    // Two owning reads of one object.
    Bytes twice = PointRecord().Hex("01 00 00 00 00 02 00");
    std::unique_ptr<CTestPoint> first;
    EXPECT_EQ(LoadFailure(twice,
                          [&](CArchive& ar) {
                              first = ar.ReadOwnedObject<CTestPoint>();
                              ar.ReadOwnedObject<CTestPoint>();
                          }),
              CArchiveException::badIndex);
    EXPECT_TRUE(first);
    first.reset();
    EXPECT_EQ(LoadFailure(Bytes("00 00"), [](CArchive& ar) { ar.ReadOwnedObject<CTestPoint>(); }),
              CArchiveException::badClass);
    EXPECT_EQ(LoadFailure(Bytes("00 00"),
                          [](CArchive& ar) { EXPECT_FALSE(ar.ReadOwnedObject<CTestPoint>(true)); }),
              CArchiveException::none);
    // The class is checked before the object is made.
    EXPECT_EQ(LoadFailure(PointRecord().Hex("01 00 00 00 00"),
                          [](CArchive& ar) { ar.ReadOwnedObject<CTestNode>(); }),
              CArchiveException::badClass);
    EXPECT_EQ(CTestPoint::live, 0);
    EXPECT_EQ(CTestNode::live, 0);
}

TEST(ArchiveTest, FailedLoadFreesTheObjectAndWithdrawsItsEntries) {
    // A forgiving object drops the failure of a node whose inner node has a bad child
    // reference, then refers back to that inner node: the reference must fail, not reach the
    // freed node.
    Bytes broken("FF FF 01 00");
    broken.Word(14).Text("CTestForgiving");                // class 1, forgiving object 2
    broken.Hex("FF FF 01 00").Word(9).Text("CTestNode");  // class 3, node 4
    broken.Hex("03 80 09 00");  // node 4 holds node 5, whose child refers to entry 9
    broken.Hex("05 00");        // back to the withdrawn inner node
    EXPECT_EQ(LoadFailure(broken, [](CArchive& ar) { delete ar.ReadObject(); }),
              CArchiveException::badIndex);
    EXPECT_EQ(CTestNode::live, 0);

    // A failure inside a nested object frees every level.
    Bytes nested("FF FF 01 00");
    nested.Word(9).Text("CTestNode").Hex("01 80").Append(PointRecord()).Hex("01 00 00 00 07");
    EXPECT_EQ(LoadFailure(nested, [](CArchive& ar) { delete ar.ReadObject(); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(CTestNode::live, 0);
    EXPECT_EQ(CTestPoint::live, 0);
}

}  // namespace
