#include "platform/framework/RuntimeClass.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, const CRuntimeClass*, std::less<>> byName;
};

// Built on first use, so registrations from any translation unit's static initialisation find
// it ready; never destroyed, so lookups during static destruction stay valid.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

}  // namespace

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    if (base == nullptr)
        return false;
    for (const CRuntimeClass* cls = this; cls != nullptr; cls = cls->m_base) {
        if (cls == base)
            return true;
    }
    return false;
}

CObject* CRuntimeClass::CreateObject() const {
    return m_factory != nullptr ? m_factory() : nullptr;
}

const CRuntimeClass* CRuntimeClass::FromName(std::string_view name) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.byName.find(name);
    return it == registry.byName.end() ? nullptr : it->second;
}

CObject* CRuntimeClass::CreateObject(std::string_view name) {
    const CRuntimeClass* cls = FromName(name);
    return cls != nullptr ? cls->CreateObject() : nullptr;
}

bool CRuntimeClass::Register(const CRuntimeClass* cls) {
    if (cls == nullptr || cls->m_name == nullptr || cls->m_name[0] == '\0' ||
        cls->m_factory == nullptr)
        return false;
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.byName.emplace(cls->m_name, cls).second;
}

std::vector<const CRuntimeClass*> CRuntimeClass::RegisteredClasses() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::vector<const CRuntimeClass*> result;
    result.reserve(registry.byName.size());
    for (const auto& entry : registry.byName)
        result.push_back(entry.second);
    return result;
}
