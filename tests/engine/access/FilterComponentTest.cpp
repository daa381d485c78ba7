#include "engine/access/FilterComponent.h"

#include "foundation/RegistryStore.h"
#include "support/ArchiveHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(FilterComponentTest, BaseOperations) {
    CFilterComponent component("name", "text");
    EXPECT_FALSE(component.ContainsUser("name"));
    EXPECT_EQ(component.GetDescriptionText(), "text");
    EXPECT_EQ(CFilterComponent().GetName(), "");
    EXPECT_TRUE(component.IsKindOf(RUNTIME_CLASS(CLockableObject)));
    std::unique_ptr<CObject> made(CRuntimeClass::CreateObject("CFilterComponent"));
    EXPECT_NE(dynamic_cast<CFilterComponent*>(made.get()), nullptr);
}

TEST(FilterComponentTest, RegistryForm) {
    TempStateDir state;
    SetRegistryRoot("Urvo Software", "Norvane 2");
    const CFilterComponent component("n\xE9", "d");
    ASSERT_TRUE(component.SaveToRegistry("C"));
    EXPECT_EQ(RegReadString("C", "Name", "-"), "n\xE9");
    EXPECT_EQ(RegReadString("C", "Description", "-"), "d");
    CFilterComponent loaded("x", "y");
    loaded.LoadFromRegistry("C");
    EXPECT_EQ(loaded.GetName(), "n\xE9");
    EXPECT_EQ(loaded.GetDescription(), "d");
    loaded.LoadFromRegistry("Missing");
    EXPECT_EQ(loaded.GetName(), "");
    EXPECT_EQ(loaded.GetDescription(), "");
}

TEST(FilterComponentTest, ArchiveFormIsNameThenDescription) {
    CFilterComponent component("ab", "c");
    const auto bytes = StoreBytes([&](CArchive& ar) { ar.WriteObject(&component); });
    EXPECT_EQ(Bytes("FF FF 01 00 10 00").Text("CFilterComponent").Byte(2).Text("ab").Byte(1).Text("c"), bytes);
    CFilterComponent target("keep", "me");
    EXPECT_EQ(LoadFailure(Bytes().Byte(1).Text("x").Byte(5).Text("y"), [&](CArchive& ar) { target.Serialize(ar); }),
              CArchiveException::endOfFile);
    EXPECT_EQ(target.GetName(), "keep");
    EXPECT_EQ(target.GetDescription(), "me");
}

}  // namespace
