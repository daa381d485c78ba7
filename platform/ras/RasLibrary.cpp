#include "platform/ras/RasLibrary.h"

#include "platform/kernel/Paths.h"

#include <cstdlib>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

namespace {

// Fills every slot of `api` from the library's export of the same name; the names of those
// that are missing go to `missing`.
bool Resolve(void* library, RasEntryPoints& api, std::string& missing) {
    bool all = true;
    auto look = [&](const char* name, auto member) {
        void* symbol = dlsym(library, name);
        if (!symbol) {
            missing += missing.empty() ? name : std::string(", ") + name;
            all = false;
            return;
        }
        api.*member = reinterpret_cast<std::remove_reference_t<decltype(api.*member)>>(symbol);
    };
    look("RasDialA", &RasEntryPoints::RasDialA);
    look("RasEnumConnectionsA", &RasEntryPoints::RasEnumConnectionsA);
    look("RasEnumEntriesA", &RasEntryPoints::RasEnumEntriesA);
    look("RasGetConnectStatusA", &RasEntryPoints::RasGetConnectStatusA);
    look("RasGetErrorStringA", &RasEntryPoints::RasGetErrorStringA);
    look("RasHangUpA", &RasEntryPoints::RasHangUpA);
    look("RasGetProjectionInfoA", &RasEntryPoints::RasGetProjectionInfoA);
    look("RasCreatePhonebookEntryA", &RasEntryPoints::RasCreatePhonebookEntryA);
    look("RasEditPhonebookEntryA", &RasEntryPoints::RasEditPhonebookEntryA);
    look("RasSetEntryDialParamsA", &RasEntryPoints::RasSetEntryDialParamsA);
    look("RasGetEntryDialParamsA", &RasEntryPoints::RasGetEntryDialParamsA);
    return all;
}

// Tables of the libraries loaded so far, by path; never freed, like the libraries.
std::mutex g_mutex;
std::map<std::string, std::unique_ptr<RasEntryPoints>>* g_loaded;

}  // namespace

std::string RasLibraryPath() {
    const char* named = std::getenv("NORVANE_RAS_LIBRARY");
    if (named && *named) {
        std::string path = named;
        return path.find('/') == std::string::npos ? "./" + path : path;
    }
    return ProgramDirectory() + "/" + kRasSimulatorFileName;
}

RasLoadResult LoadRasLibrary() {
    RasLoadResult result;
    std::string path = RasLibraryPath();
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_loaded)
        g_loaded = new std::map<std::string, std::unique_ptr<RasEntryPoints>>;
    if (auto found = g_loaded->find(path); found != g_loaded->end()) {
        result.api = found->second.get();
        result.status = RasLoadStatus::kLoaded;
        return result;
    }
    // Never closed: a library that lacks an entry point may still have started threads, and
    // a loaded one keeps delivering events.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        result.message = kRasNotInstalledText;
        result.detail = path + ": " + (why ? why : "cannot be loaded");
        return result;
    }
    auto api = std::make_unique<RasEntryPoints>();
    std::string missing;
    if (!Resolve(library, *api, missing)) {
        result.status = RasLoadStatus::kMissingEntryPoints;
        result.message = kRasEntryPointsMissingText;
        result.detail = path + " lacks " + missing;
        return result;
    }
    result.api = api.get();
    result.status = RasLoadStatus::kLoaded;
    g_loaded->emplace(path, std::move(api));
    return result;
}
