#pragma once
// The run-time loader of the dial-up library. The engine runs on machines without any dial-up
// library: it loads one by path when the dialer starts, and dials only when the library exports
// all eleven entry points of platform/ras/RasApi.h. A loaded library is never unloaded (its
// threads may still deliver events), so the entry points stay valid for the life of the
// process once found.

#include "platform/ras/RasApi.h"

#include <string>

// File name of the simulated dial-up library, which lies in the engine's own folder.
inline constexpr const char* kRasSimulatorFileName = "libnorvane-ras-sim.so";

// The dialer's debug lines when dialling is unavailable.
inline constexpr const char* kRasNotInstalledText =
    "could not load library RASAPI32 - RAS is not installed";
inline constexpr const char* kRasEntryPointsMissingText =
    "Error getting process addresses in RASAPI32 - check the version of this DLL";

// The eleven entry points, all present in a table the loader hands out.
struct RasEntryPoints {
    PFN_RASDIALA RasDialA;
    PFN_RASENUMCONNECTIONSA RasEnumConnectionsA;
    PFN_RASENUMENTRIESA RasEnumEntriesA;
    PFN_RASGETCONNECTSTATUSA RasGetConnectStatusA;
    PFN_RASGETERRORSTRINGA RasGetErrorStringA;
    PFN_RASHANGUPA RasHangUpA;
    PFN_RASGETPROJECTIONINFOA RasGetProjectionInfoA;
    PFN_RASCREATEPHONEBOOKENTRYA RasCreatePhonebookEntryA;
    PFN_RASEDITPHONEBOOKENTRYA RasEditPhonebookEntryA;
    PFN_RASSETENTRYDIALPARAMSA RasSetEntryDialParamsA;
    PFN_RASGETENTRYDIALPARAMSA RasGetEntryDialParamsA;
};

enum class RasLoadStatus {
    kLoaded,              // every entry point was found
    kNotInstalled,        // the library could not be loaded
    kMissingEntryPoints,  // it was loaded, but lacks an entry point
};

struct RasLoadResult {
    // The entry points when status is kLoaded, else null. Valid for the life of the process.
    const RasEntryPoints* api = nullptr;
    RasLoadStatus status = RasLoadStatus::kNotInstalled;
    // Empty when loaded; else kRasNotInstalledText or kRasEntryPointsMissingText.
    std::string message;
    // Which file, and why it failed (the dynamic linker's reason or the missing names), for
    // a person looking into the failure.
    std::string detail;
};

// The library to load: $NORVANE_RAS_LIBRARY when set and not empty, else the simulator in the
// program's own folder. A name without '/' means a file in the current folder, never one the
// dynamic linker searches for.
std::string RasLibraryPath();

// Loads the library at RasLibraryPath() and looks up the eleven entry points. Each path is
// loaded at most once per process: a path that loaded before answers the same table at once;
// a failure is tried again by the next call. Thread-safe.
RasLoadResult LoadRasLibrary();
