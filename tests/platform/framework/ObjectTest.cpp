#include "platform/framework/Exception.h"
#include "platform/framework/Object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// A small hierarchy: CTestAnimal <- CTestDog; CTestPuppy derives from CTestDog in C++ but names
// CTestAnimal as its run-time base, as some of the system's classes do.
class CTestAnimal : public CObject {
    DECLARE_SERIAL(CTestAnimal)
public:
    ~CTestAnimal() override { ++destroyed; }
    static inline std::atomic<int> destroyed{0};
};
IMPLEMENT_SERIAL(CTestAnimal, CObject, 1)

class CTestDog : public CTestAnimal {
    DECLARE_SERIAL(CTestDog)
};
IMPLEMENT_SERIAL(CTestDog, CTestAnimal, 1)

class CTestPuppy : public CTestDog {
    DECLARE_SERIAL(CTestPuppy)
};
IMPLEMENT_SERIAL(CTestPuppy, CTestAnimal, 3)

class CTestAbstractOnly : public CObject {
    DECLARE_DYNAMIC(CTestAbstractOnly)
};
IMPLEMENT_DYNAMIC(CTestAbstractOnly, CObject)

class CTestByNameOnly : public CObject {
    DECLARE_DYNCREATE(CTestByNameOnly)
};
IMPLEMENT_DYNCREATE(CTestByNameOnly, CObject)

namespace {

TEST(RuntimeClassTest, RecordsNameSchemaAndBase) {
    const CRuntimeClass* dog = RUNTIME_CLASS(CTestDog);
    EXPECT_STREQ(dog->GetName(), "CTestDog");
    EXPECT_EQ(dog->GetSchema(), 1);
    EXPECT_EQ(dog->GetBaseClass(), RUNTIME_CLASS(CTestAnimal));
    EXPECT_EQ(RUNTIME_CLASS(CTestAnimal)->GetBaseClass(), RUNTIME_CLASS(CObject));
    EXPECT_EQ(RUNTIME_CLASS(CObject)->GetBaseClass(), nullptr);
    EXPECT_EQ(RUNTIME_CLASS(CTestPuppy)->GetSchema(), 3);
    EXPECT_EQ(RUNTIME_CLASS(CTestByNameOnly)->GetSchema(), 0xFFFF);
    EXPECT_FALSE(RUNTIME_CLASS(CTestByNameOnly)->IsSerializable());
    EXPECT_TRUE(RUNTIME_CLASS(CTestByNameOnly)->CanCreate());
    EXPECT_FALSE(RUNTIME_CLASS(CTestAbstractOnly)->CanCreate());
    EXPECT_EQ(RUNTIME_CLASS(CTestAbstractOnly)->CreateObject(), nullptr);
}

TEST(RuntimeClassTest, DerivationFollowsTheRunTimeBase) {
    CTestPuppy puppy;
    EXPECT_EQ(puppy.GetRuntimeClass(), RUNTIME_CLASS(CTestPuppy));
    EXPECT_TRUE(puppy.IsKindOf(RUNTIME_CLASS(CTestPuppy)));
    EXPECT_TRUE(puppy.IsKindOf(RUNTIME_CLASS(CTestAnimal)));
    EXPECT_TRUE(puppy.IsKindOf(RUNTIME_CLASS(CObject)));
    // Its C++ base is CTestDog, but its record says CTestAnimal.
    EXPECT_FALSE(puppy.IsKindOf(RUNTIME_CLASS(CTestDog)));
    EXPECT_TRUE(RUNTIME_CLASS(CTestDog)->IsDerivedFrom(RUNTIME_CLASS(CTestAnimal)));
    EXPECT_FALSE(RUNTIME_CLASS(CTestAnimal)->IsDerivedFrom(RUNTIME_CLASS(CTestDog)));
    EXPECT_FALSE(RUNTIME_CLASS(CTestAnimal)->IsDerivedFrom(nullptr));
    CNotSupportedException e;
    EXPECT_TRUE(e.IsKindOf(RUNTIME_CLASS(CException)));
    EXPECT_FALSE(e.IsSerializable());
}

TEST(RuntimeClassTest, RegistryCreatesByExactName) {
    std::unique_ptr<CObject> dog(CRuntimeClass::CreateObject("CTestDog"));
    ASSERT_TRUE(dog);
    EXPECT_EQ(dog->GetRuntimeClass(), RUNTIME_CLASS(CTestDog));
    EXPECT_EQ(CRuntimeClass::FromName("CTestDog"), RUNTIME_CLASS(CTestDog));
    EXPECT_EQ(CRuntimeClass::FromName("ctestdog"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName("CTestDo"), nullptr);
    EXPECT_EQ(CRuntimeClass::CreateObject("CTestDog "), nullptr);
    // Created by name although never in a stream.
    std::unique_ptr<CObject> byName(CRuntimeClass::CreateObject("CTestByNameOnly"));
    EXPECT_TRUE(byName);
    // Known to run-time checks only.
    EXPECT_EQ(CRuntimeClass::FromName("CTestAbstractOnly"), nullptr);
    EXPECT_EQ(CRuntimeClass::FromName("CObject"), nullptr);
}

TEST(RuntimeClassTest, RegistrationKeepsTheFirstOfOneName) {
    static constinit const CRuntimeClass impostor{
        "CTestDog", 1, [] { return static_cast<CObject*>(new CTestAnimal); }, nullptr};
    EXPECT_FALSE(CRuntimeClass::Register(&impostor));
    EXPECT_EQ(CRuntimeClass::FromName("CTestDog"), RUNTIME_CLASS(CTestDog));
    EXPECT_FALSE(CRuntimeClass::Register(nullptr));
    EXPECT_FALSE(CRuntimeClass::Register(RUNTIME_CLASS(CTestAbstractOnly)));
    bool listed = false;
    for (const CRuntimeClass* cls : CRuntimeClass::RegisteredClasses())
        listed |= cls == RUNTIME_CLASS(CTestPuppy);
    EXPECT_TRUE(listed);
}

TEST(RuntimeClassTest, ConcurrentLookupsAndRegistrations) {
    static constinit const CRuntimeClass late{
        "CTestLateRegistration", 1, [] { return static_cast<CObject*>(new CTestAnimal); },
        RUNTIME_CLASS(CTestAnimal)};
    std::vector<std::thread> threads;
    std::atomic<int> found{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i)
                found += CRuntimeClass::FromName("CTestPuppy") != nullptr;
        });
    threads.emplace_back([] { CRuntimeClass::Register(&late); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(found, 8000);
    EXPECT_EQ(CRuntimeClass::FromName("CTestLateRegistration"), &late);
}

TEST(ObjectReferenceTest, LastReleaseDeletes) {
    const int before = CTestAnimal::destroyed;
    auto* animal = new CTestAnimal;
    EXPECT_EQ(animal->GetReferenceCount(), 1);
    {
        CRef<CTestAnimal> shared(animal);
        EXPECT_EQ(animal->GetReferenceCount(), 2);
        CRef<CObject> widened = shared;
        EXPECT_EQ(animal->GetReferenceCount(), 3);
        EXPECT_EQ(animal->Release(), 2);  // the creator lets go
    }
    EXPECT_EQ(CTestAnimal::destroyed, before + 1);

    auto adopted = CRef<CTestAnimal>::Adopt(new CTestAnimal);
    EXPECT_EQ(adopted->GetReferenceCount(), 1);
    CTestAnimal* raw = adopted.Detach();
    EXPECT_FALSE(adopted);
    EXPECT_EQ(raw->Release(), 0);
    EXPECT_EQ(CTestAnimal::destroyed, before + 2);
}

TEST(ObjectReferenceTest, CopiesStartWithTheirOwnReference) {
    CTestAnimal original;
    original.AddRef();
    CTestAnimal copy(original);
    EXPECT_EQ(copy.GetReferenceCount(), 1);
    EXPECT_EQ(original.Release(), 1);
}

TEST(ObjectReferenceTest, ReferencesAcrossThreadsDeleteOnce) {
    const int before = CTestAnimal::destroyed;
    for (int round = 0; round < 50; ++round) {
        auto* animal = new CTestAnimal;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            CRef<CTestAnimal> ref(animal);
            threads.emplace_back([ref]() mutable {
                for (int i = 0; i < 200; ++i)
                    CRef<CTestAnimal> again(ref.Get());
                ref.Reset();
            });
        }
        animal->Release();
        for (auto& t : threads)
            t.join();
    }
    EXPECT_EQ(CTestAnimal::destroyed, before + 50);
}

}  // namespace
