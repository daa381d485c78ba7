#include "foundation/Containers.h"
#include "foundation/LockableArray.h"
#include "foundation/LockableList.h"
#include "foundation/LockableMap.h"
#include "foundation/LockableObject.h"
#include "foundation/ScopedLock.h"
#include "support/ArchiveHelpers.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Archive forms of the object list, array and string map (through their lockable classes),
// and the containers' locks.

namespace {

Bytes ObjectRecord() {
    return Bytes("FF FF 01 00 0F 00").Text("CLockableObject");
}

// Frees what a generic load put in a list, with the containers nested in it.
void DeleteNested(CObjectList& list) {
    for (CObject* element : list)
        DeleteLoaded(element);
    list.RemoveAll();
}

TEST(LockableClassesTest, RegisteredWithSchemaOneAndCreatableByName) {
    for (const char* name :
         {"CLockableObject", "CLockableList", "CLockableArray", "CLockableMap", "CMachineMap"}) {
        const CRuntimeClass* cls = CRuntimeClass::FromName(name);
        ASSERT_NE(cls, nullptr) << name;
        EXPECT_EQ(cls->GetSchema(), 1) << name;
        std::unique_ptr<CObject> object(CRuntimeClass::CreateObject(name));
        ASSERT_TRUE(object) << name;
        EXPECT_STREQ(object->GetRuntimeClass()->GetName(), name);
    }
    // The plain containers are known to run-time checks only.
    EXPECT_EQ(CRuntimeClass::FromName("CObjectList"), nullptr);
    CLockableMap map;
    EXPECT_TRUE(map.IsKindOf(RUNTIME_CLASS(CObjectMap)));
}

TEST(ObjectListFormTest, EmptyListIsAZeroCount) {
    CLockableList list;
    EXPECT_EQ(Bytes("00 00"), StoreBytes([&](CArchive& ar) { list.Serialize(ar); }));
}

TEST(ObjectListFormTest, ElementsHeadToTailAsReferences) {
    CLockableObject a, b;
    CLockableList list;
    list.AddTail(&a);
    list.AddTail(nullptr);
    list.AddTail(&b);
    list.AddTail(&a);
    auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&list); });
    // List class 1, list 2, object class 3, a 4, null, b (class 3) 5, then a again.
    Bytes expected("FF FF 01 00 0D 00");
    expected.Text("CLockableList").Hex("04 00").Append(ObjectRecord()).Hex("00 00 03 80 04 00");
    EXPECT_EQ(expected, bytes);

    // The same list without its own record, and without the repeat (a loaded list holds new
    // objects only): the elements come back in order.
    list.RemoveTail();
    auto untagged = StoreBytes([&](CArchive& ar) { list.Serialize(ar); });
    EXPECT_EQ(Bytes("03 00").Append(ObjectRecord()).Hex("00 00 01 80"), untagged);
    CLockableList back;
    back.AddTail(&a);  // loading appends
    EXPECT_TRUE(LoadBytes(untagged, [&](CArchive& ar) { back.Serialize(ar); }));
    ASSERT_EQ(back.GetCount(), 4u);
    auto it = back.begin();
    EXPECT_EQ(*it++, &a);
    CObject* first = *it++;
    EXPECT_EQ(*it++, nullptr);
    CObject* third = *it;
    EXPECT_TRUE(first->IsKindOf(RUNTIME_CLASS(CLockableObject)));
    EXPECT_TRUE(third->IsKindOf(RUNTIME_CLASS(CLockableObject)));
    EXPECT_NE(first, third);
    back.RemoveHead();
    back.DeleteElements();
    EXPECT_TRUE(back.IsEmpty());
}

TEST(ObjectListFormTest, CountOf65535UsesTheLongForm) {
    CLockableList list;
    for (int i = 0; i < 65535; ++i)
        list.AddTail(nullptr);
    auto bytes = StoreBytes([&](CArchive& ar) { list.Serialize(ar); });
    EXPECT_EQ(Bytes("FF FF FF FF 00 00").Repeat(Bytes("00 00"), 65535), bytes);
    CLockableList back;
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); }));
    EXPECT_EQ(back.GetCount(), 65535u);
}

TEST(ObjectListFormTest, OneObjectTwiceInAListIsRefused) {
    Bytes stream = Bytes("02 00").Append(ObjectRecord()).Hex("02 00");
    CLockableList list;
    EXPECT_EQ(LoadFailure(stream, [&](CArchive& ar) { list.Serialize(ar); }),
              CArchiveException::badIndex);
    EXPECT_TRUE(list.IsEmpty());  // and the object read first is freed (AddressSanitizer)
}

TEST(ObjectListFormTest, FailedLoadLeavesTheListAsItWas) {
    CLockableObject kept;
    CLockableList list;
    list.AddTail(&kept);
    Bytes truncated = Bytes("03 00").Append(ObjectRecord()).Hex("01 80");
    EXPECT_EQ(LoadFailure(truncated, [&](CArchive& ar) { list.Serialize(ar); }),
              CArchiveException::endOfFile);
    ASSERT_EQ(list.GetCount(), 1u);
    EXPECT_EQ(list.GetHead(), &kept);
    // A claimed count far beyond the stream is refused before anything is read.
    EXPECT_EQ(LoadFailure(Bytes("FF FF FF FF FF 7F 00 00"), [&](CArchive& ar) { list.Serialize(ar); }),
              CArchiveException::endOfFile);
}

TEST(ObjectListFormTest, OwnedLoadChecksEachClass) {
    CLockableList owner;
    // A list inside where objects of the lockable-object class belong.
    Bytes foreign = Bytes("02 00").Append(ObjectRecord());
    foreign.Hex("FF FF 01 00 0D 00").Text("CLockableList").Hex("00 00");
    EXPECT_EQ(LoadFailure(foreign, [&](CArchive& ar) { owner.LoadOwned<CLockableObject>(ar); }),
              CArchiveException::badClass);
    // What came before the failure stays with the owner.
    EXPECT_EQ(owner.GetCount(), 1u);
    owner.DeleteElements();
    EXPECT_EQ(LoadFailure(Bytes("01 00 00 00"),
                          [&](CArchive& ar) { owner.LoadOwned<CLockableObject>(ar); }),
              CArchiveException::badClass);
    EXPECT_TRUE(owner.IsEmpty());
}

TEST(ObjectListFormTest, NestedListsAreBoundedAndFreedOnFailure) {
    const Bytes record = Bytes("FF FF 01 00 0D 00").Text("CLockableList");
    // 64 lists, each holding the next: within the limit.
    Bytes ok = Bytes("01 00").Append(record).Repeat(Bytes("01 00 01 80"), 63).Hex("00 00");
    CLockableList top;
    EXPECT_TRUE(LoadBytes(ok, [&](CArchive& ar) { top.Serialize(ar); }));
    int depth = 0;
    for (CObjectList* list = &top; !list->IsEmpty(); ++depth)
        list = static_cast<CObjectList*>(list->GetHead());
    EXPECT_EQ(depth, 64);
    DeleteNested(top);
    // One more level fails, and every list read on the way is freed.
    Bytes deep = Bytes("01 00").Append(record).Repeat(Bytes("01 00 01 80"), 64).Hex("00 00");
    EXPECT_EQ(LoadFailure(deep, [&](CArchive& ar) { top.Serialize(ar); }),
              CArchiveException::badIndex);
    EXPECT_TRUE(top.IsEmpty());
}

TEST(ObjectListFormTest, ContainersNestedInAFailedLoadAreFreedWithTheirContents) {
    // A list holding a map that holds an array of one object, then a damaged element.
    Bytes stream("02 00 FF FF 01 00 0C 00");
    stream.Text("CLockableMap").Hex("01 00 01 6B FF FF 01 00 0E 00").Text("CLockableArray");
    stream.Hex("01 00").Append(ObjectRecord()).Hex("07 00");
    CLockableList list;
    EXPECT_EQ(LoadFailure(stream, [&](CArchive& ar) { list.Serialize(ar); }),
              CArchiveException::badIndex);
    EXPECT_TRUE(list.IsEmpty());  // nothing is left behind (AddressSanitizer)
}

TEST(ObjectArrayFormTest, ElementsByIndex) {
    CLockableObject a;
    CLockableArray array;
    array.Add(&a);
    array.Add(nullptr);
    auto bytes = StoreBytes([&](CArchive& ar) { array.Serialize(ar); });
    EXPECT_EQ(Bytes("02 00").Append(ObjectRecord()).Hex("00 00"), bytes);

    // Loading makes the array exactly the elements read.
    CLockableObject x, y, z;
    CLockableArray back;
    back.Add(&x);
    back.Add(&y);
    back.Add(&z);
    EXPECT_TRUE(LoadBytes(bytes, [&](CArchive& ar) { back.Serialize(ar); }));
    ASSERT_EQ(back.GetSize(), 2u);
    EXPECT_TRUE(back.GetAt(0)->IsKindOf(RUNTIME_CLASS(CLockableObject)));
    EXPECT_EQ(back.GetAt(1), nullptr);
    EXPECT_THROW(back.GetAt(2), std::out_of_range);
    back.DeleteElements();
}

TEST(ObjectArrayFormTest, FailedLoadLeavesTheArrayAsItWas) {
    CLockableObject x;
    CLockableArray array;
    array.Add(&x);
    Bytes stream = Bytes("03 00").Append(ObjectRecord()).Hex("00 00 02 00");
    EXPECT_EQ(LoadFailure(stream, [&](CArchive& ar) { array.Serialize(ar); }),
              CArchiveException::badIndex);
    ASSERT_EQ(array.GetSize(), 1u);
    EXPECT_EQ(array.GetAt(0), &x);
    // The owned load appends.
    Bytes two = Bytes("02 00").Append(ObjectRecord()).Hex("01 80");
    EXPECT_TRUE(LoadBytes(two, [&](CArchive& ar) { array.LoadOwned<CLockableObject>(ar); }));
    ASSERT_EQ(array.GetSize(), 3u);
    EXPECT_EQ(array.GetAt(0), &x);
    array.RemoveAt(0);
    array.DeleteElements();
}

TEST(ObjectArrayFormTest, EditingOperations) {
    CLockableObject a, b, c;
    CLockableArray array;
    EXPECT_EQ(array.Add(&a), 0u);
    EXPECT_EQ(array.Add(&c), 1u);
    array.InsertAt(1, &b);
    EXPECT_EQ(array.Find(&b), 1);
    EXPECT_EQ(array.Find(nullptr), -1);
    array.RemoveAt(0);
    EXPECT_EQ(array.GetAt(0), &b);
    EXPECT_THROW(array.InsertAt(5, &a), std::out_of_range);
    EXPECT_THROW(array.RemoveAt(2), std::out_of_range);
    array.SetSize(4);
    EXPECT_EQ(array.GetAt(3), nullptr);
}

TEST(ObjectMapFormTest, KeyThenReferenceForEachEntry) {
    CLockableObject a;
    CLockableMap map;
    map.SetAt("b", &a);
    map.SetAt("a", nullptr);
    auto bytes = StoreBytes([&](CArchive& ar) { map.Serialize(ar); });
    EXPECT_EQ(Bytes("02 00 01 61 00 00 01 62").Append(ObjectRecord()), bytes);

    // Any order loads; keys are exact bytes.
    Bytes stream("03 00 01 62");
    stream.Append(ObjectRecord()).Hex("03 41 00 FF 01 80 01 61 00 00");
    CLockableMap back;
    EXPECT_TRUE(LoadBytes(stream, [&](CArchive& ar) { back.Serialize(ar); }));
    EXPECT_EQ(back.GetCount(), 3u);
    CObject* value = &a;
    EXPECT_TRUE(back.Lookup("a", value));
    EXPECT_EQ(value, nullptr);
    EXPECT_NE(back.Lookup(std::string("A\0\xFF", 3)), nullptr);
    EXPECT_EQ(back.Lookup("A"), nullptr);
    EXPECT_FALSE(back.Lookup("c", value));
    back.DeleteElements();
}

TEST(ObjectMapFormTest, RepeatedKeyIsRefusedAndTheMapKept) {
    CLockableObject kept;
    CLockableMap map;
    map.SetAt("k", &kept);
    // The repeated key's value is a list holding an object: nothing of it may leak.
    Bytes stream = Bytes("02 00 01 6B").Append(ObjectRecord()).Hex("01 6B FF FF 01 00 0D 00");
    stream.Text("CLockableList").Hex("01 00 01 80");
    EXPECT_EQ(LoadFailure(stream, [&](CArchive& ar) { map.Serialize(ar); }),
              CArchiveException::generic);
    EXPECT_EQ(map.GetCount(), 1u);
    EXPECT_EQ(map.Lookup("k"), &kept);
    // A loaded key replaces the pointer of a key already present (which is not deleted).
    Bytes one = Bytes("01 00 01 6B").Append(ObjectRecord());
    EXPECT_TRUE(LoadBytes(one, [&](CArchive& ar) { map.Serialize(ar); }));
    CObject* loaded = map.Lookup("k");
    EXPECT_NE(loaded, &kept);
    EXPECT_TRUE(map.RemoveKey("k"));
    EXPECT_FALSE(map.RemoveKey("k"));
    delete loaded;
    EXPECT_EQ(LoadFailure(Bytes("FF FF 00 00 01 00 00"), [&](CArchive& ar) { map.Serialize(ar); }),
              CArchiveException::endOfFile);
}

TEST(LockableContainerTest, LocksNestAndExcludeOtherThreads) {
    CLockableList list;
    list.Lock();
    list.Lock();
    std::atomic<bool> entered{false};
    std::thread other([&] {
        CScopedLock lock(list);
        entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    list.Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    list.Unlock();
    other.join();
    EXPECT_TRUE(entered);
    // A scoped lock is released when an exception passes.
    try {
        CScopedLock lock(list);
        throw std::runtime_error("passing");
    } catch (const std::runtime_error&) {
    }
    std::thread again([&] { CScopedLock lock(list); });
    again.join();
}

TEST(LockableContainerTest, ConcurrentWritersUnderTheLock) {
    CLockableMap map;
    CLockableArray array;
    std::vector<std::unique_ptr<CLockableObject>> objects;
    for (int i = 0; i < 400; ++i)
        objects.push_back(std::make_unique<CLockableObject>());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = t; i < 400; i += 4) {
                {
                    CScopedLock lock(map);
                    map.SetAt(std::to_string(i), objects[static_cast<std::size_t>(i)].get());
                }
                CScopedLock lock(array);
                array.Add(objects[static_cast<std::size_t>(i)].get());
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(map.GetCount(), 400u);
    EXPECT_EQ(array.GetSize(), 400u);
}

TEST(LockableContainerTest, SnapshotsAndLookupsHoldReferences) {
    auto* shared = new CLockableObject;
    CLockableMap map;
    map.SetAt("x", shared);
    map.SetAt("null", nullptr);
    CLockableList list;
    list.AddTail(shared);
    {
        auto refs = map.Snapshot();
        ASSERT_EQ(refs.size(), 1u);
        auto fromList = list.Snapshot();
        CRef<CObject> found = map.LookupRef("x");
        EXPECT_EQ(found.Get(), shared);
        EXPECT_FALSE(map.LookupRef("y"));
        EXPECT_EQ(shared->GetReferenceCount(), 4);
        // The owner lets go while the walkers still hold theirs.
        map.RemoveKey("x");
        list.RemoveAll();
        EXPECT_EQ(shared->Release(), 3);
        EXPECT_TRUE(found->IsKindOf(RUNTIME_CLASS(CLockableObject)));
    }
}

}  // namespace
