#include "platform/ras/RasLibrary.h"

#include "platform/kernel/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Loads with NORVANE_RAS_LIBRARY set to `path` (unset when null).
RasLoadResult LoadFrom(const char* path, std::string* resolved = nullptr) {
    path ? setenv("NORVANE_RAS_LIBRARY", path, 1) : unsetenv("NORVANE_RAS_LIBRARY");
    if (resolved)
        *resolved = RasLibraryPath();
    RasLoadResult result = LoadRasLibrary();
    unsetenv("NORVANE_RAS_LIBRARY");
    return result;
}

TEST(RasLibraryTest, ThePathIsTheSimulatorBesideTheProgramUnlessNamed) {
    std::string path;
    LoadFrom(nullptr, &path);
    EXPECT_EQ(path, ProgramDirectory() + "/libnorvane-ras-sim.so");
    LoadFrom("", &path);
    EXPECT_EQ(path, ProgramDirectory() + "/libnorvane-ras-sim.so");
    LoadFrom("/opt/ras/libras.so", &path);
    EXPECT_EQ(path, "/opt/ras/libras.so");
    // A bare name is a file in the current folder, never one the dynamic linker finds.
    EXPECT_EQ(LoadFrom("libc.so.6", &path).status, RasLoadStatus::kNotInstalled);
    EXPECT_EQ(path, "./libc.so.6");
}

TEST(RasLibraryTest, DiallingIsAvailableOnlyWithAllElevenEntryPoints) {
    RasLoadResult missing = LoadFrom("/nonexistent/libnorvane-ras-sim.so");
    EXPECT_EQ(missing.status, RasLoadStatus::kNotInstalled);
    EXPECT_EQ(missing.api, nullptr);
    EXPECT_EQ(missing.message, "could not load library RASAPI32 - RAS is not installed");
    EXPECT_NE(missing.detail.find("/nonexistent/libnorvane-ras-sim.so"), std::string::npos);
    for (int attempt = 0; attempt < 2; ++attempt) {  // a failure is tried again, and fails again
        RasLoadResult partial = LoadFrom(NORVANE_RAS_PARTIAL);
        EXPECT_EQ(partial.status, RasLoadStatus::kMissingEntryPoints);
        EXPECT_EQ(partial.api, nullptr);
        EXPECT_EQ(partial.message,
                  "Error getting process addresses in RASAPI32 - check the version of this DLL");
        EXPECT_NE(partial.detail.find("lacks RasGetEntryDialParamsA"), std::string::npos);
    }
    RasLoadResult loaded = LoadFrom(NORVANE_RAS_SIM);
    ASSERT_EQ(loaded.status, RasLoadStatus::kLoaded) << loaded.detail;
    EXPECT_TRUE(loaded.message.empty());
    const RasEntryPoints& api = *loaded.api;
    EXPECT_TRUE(api.RasDialA && api.RasEnumConnectionsA && api.RasEnumEntriesA &&
                api.RasGetConnectStatusA && api.RasGetErrorStringA && api.RasHangUpA &&
                api.RasGetProjectionInfoA && api.RasCreatePhonebookEntryA &&
                api.RasEditPhonebookEntryA && api.RasSetEntryDialParamsA &&
                api.RasGetEntryDialParamsA);
    EXPECT_EQ(LoadFrom(NORVANE_RAS_SIM).api, loaded.api);  // loaded once, kept for good
    char text[256];
    EXPECT_EQ(api.RasGetErrorStringA(ERROR_BUFFER_TOO_SMALL, text, sizeof text), 0u);
}

}  // namespace
