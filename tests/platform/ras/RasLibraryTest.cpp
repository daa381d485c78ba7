#include "platform/ras/RasLibrary.h"

#include "platform/kernel/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Points NORVANE_RAS_LIBRARY somewhere for one test.
class LibraryEnv {
public:
    explicit LibraryEnv(const char* value) {
        if (value)
            setenv("NORVANE_RAS_LIBRARY", value, 1);
        else
            unsetenv("NORVANE_RAS_LIBRARY");
    }
    ~LibraryEnv() { unsetenv("NORVANE_RAS_LIBRARY"); }
};

TEST(RasLibraryTest, ThePathIsTheSimulatorBesideTheProgramUnlessNamed) {
    {
        LibraryEnv env(nullptr);
        EXPECT_EQ(RasLibraryPath(), ProgramDirectory() + "/libnorvane-ras-sim.so");
    }
    {
        LibraryEnv env("");
        EXPECT_EQ(RasLibraryPath(), ProgramDirectory() + "/libnorvane-ras-sim.so");
    }
    {
        LibraryEnv env("/opt/ras/libras.so");
        EXPECT_EQ(RasLibraryPath(), "/opt/ras/libras.so");
    }
    {
        // A bare name is a file in the current folder, not one the dynamic linker finds.
        LibraryEnv env("libc.so.6");
        EXPECT_EQ(RasLibraryPath(), "./libc.so.6");
        RasLoadResult result = LoadRasLibrary();
        EXPECT_EQ(result.status, RasLoadStatus::kNotInstalled);
    }
}

TEST(RasLibraryTest, DiallingIsUnavailableWithoutAllElevenEntryPoints) {
    {
        LibraryEnv env("/nonexistent/libnorvane-ras-sim.so");
        RasLoadResult result = LoadRasLibrary();
        EXPECT_EQ(result.status, RasLoadStatus::kNotInstalled);
        EXPECT_EQ(result.api, nullptr);
        EXPECT_EQ(result.message, "could not load library RASAPI32 - RAS is not installed");
        EXPECT_NE(result.detail.find("/nonexistent/libnorvane-ras-sim.so"), std::string::npos);
    }
    {
        LibraryEnv env(NORVANE_RAS_PARTIAL);
        for (int attempt = 0; attempt < 2; ++attempt) {  // a failure is tried again, and fails again
            RasLoadResult result = LoadRasLibrary();
            EXPECT_EQ(result.status, RasLoadStatus::kMissingEntryPoints);
            EXPECT_EQ(result.api, nullptr);
            EXPECT_EQ(result.message,
                      "Error getting process addresses in RASAPI32 - check the version of this DLL");
            EXPECT_NE(result.detail.find("lacks RasGetEntryDialParamsA"), std::string::npos)
                << result.detail;
        }
    }
}

TEST(RasLibraryTest, TheSimulatorLoadsOnceWithEveryEntryPoint) {
    LibraryEnv env(NORVANE_RAS_SIM);
    RasLoadResult first = LoadRasLibrary();
    ASSERT_EQ(first.status, RasLoadStatus::kLoaded) << first.detail;
    EXPECT_TRUE(first.message.empty());
    const RasEntryPoints& api = *first.api;
    for (const void* entry : {(const void*)api.RasDialA, (const void*)api.RasEnumConnectionsA,
                              (const void*)api.RasEnumEntriesA, (const void*)api.RasGetConnectStatusA,
                              (const void*)api.RasGetErrorStringA, (const void*)api.RasHangUpA,
                              (const void*)api.RasGetProjectionInfoA,
                              (const void*)api.RasCreatePhonebookEntryA,
                              (const void*)api.RasEditPhonebookEntryA,
                              (const void*)api.RasSetEntryDialParamsA,
                              (const void*)api.RasGetEntryDialParamsA})
        EXPECT_NE(entry, nullptr);
    EXPECT_EQ(LoadRasLibrary().api, first.api);
    char text[256];
    EXPECT_EQ(api.RasGetErrorStringA(ERROR_BUFFER_TOO_SMALL, text, sizeof text), 0u);
}

}  // namespace
