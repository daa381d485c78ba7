#include "proxies/mapping/Mappings.h"

#include "engine/access/AccessStore.h"
#include "foundation/Archive.h"
#include "foundation/RegistryStore.h"
#include "foundation/ScopedLock.h"
#include "proxies/mapping/MappingFormat.h"

#include <memory>
#include <string_view>
#include <utility>

using namespace MappingFormat;

IMPLEMENT_SERIAL(CMappings, CLockableList, 1)

namespace {

using MappingVector = std::vector<std::unique_ptr<CMapping>>;

const CMapping* AsMapping(const CObject* element) {
    return element != nullptr && element->IsKindOf(RUNTIME_CLASS(CMapping))
               ? static_cast<const CMapping*>(element)
               : nullptr;
}

}  // namespace

CMappings::~CMappings() { DeleteElements(); }

void CMappings::AddMapping(CMapping* mapping) {
    if (mapping == nullptr)
        return;
    CScopedLock lock(*this);
    AddTail(mapping);
}

void CMappings::RemoveMapping(CMapping* mapping) {
    {
        CScopedLock lock(*this);
        if (mapping == nullptr || !Remove(mapping))
            return;
    }
    mapping->Release();
}

void CMappings::Copy(const CMappings& other) {
    if (&other == this)
        return;
    MappingVector copies;
    DWORD allowDefault;
    CHostPort defaultTarget;
    {
        CScopedLock lock(other);
        allowDefault = other.m_allowDefault;
        defaultTarget = other.m_defaultTarget;
        for (const CObject* element : other) {
            if (const CMapping* mapping = AsMapping(element)) {
                auto copy = std::make_unique<CMapping>();
                copy->Copy(*mapping);
                copies.push_back(std::move(copy));
            }
        }
    }
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, copies);
    m_allowDefault = allowDefault;
    m_defaultTarget = std::move(defaultTarget);
}

BOOL CMappings::FindTarget(CAccessSession& session, CHostPort& target) const {
    CScopedLock lock(*this);
    for (const CObject* element : *this) {
        const CMapping* mapping = AsMapping(element);
        if (mapping != nullptr && mapping->Matches(session)) {
            target = mapping->GetTarget();
            return TRUE;
        }
    }
    if (m_allowDefault == 0)
        return FALSE;
    target = m_defaultTarget;
    return TRUE;
}

DWORD CMappings::GetAllowDefault() const {
    CScopedLock lock(*this);
    return m_allowDefault;
}

void CMappings::SetAllowDefault(DWORD flag) {
    CScopedLock lock(*this);
    m_allowDefault = flag;
}

CHostPort CMappings::GetDefaultTarget() const {
    CScopedLock lock(*this);
    return m_defaultTarget;
}

void CMappings::SetDefaultTarget(const CHostPort& target) {
    CScopedLock lock(*this);
    m_defaultTarget = target;
}

std::size_t CMappings::GetMappingCount() const {
    CScopedLock lock(*this);
    return GetCount();
}

std::vector<CRef<CMapping>> CMappings::GetMappings() const {
    std::vector<CRef<CMapping>> copies;
    CScopedLock lock(*this);
    for (const CObject* element : *this) {
        if (const CMapping* mapping = AsMapping(element)) {
            auto copy = CRef<CMapping>::Adopt(new CMapping);
            copy->Copy(*mapping);
            copies.push_back(std::move(copy));
        }
    }
    return copies;
}

void CMappings::Serialize(CArchive& ar) {
    if (ar.IsStoring()) {
        CScopedLock lock(*this);
        ar << m_allowDefault;
        m_defaultTarget.Serialize(ar);
        WriteElements(ar, *this);
        return;
    }
    DWORD allowDefault;
    CHostPort defaultTarget;
    ar >> allowDefault;
    defaultTarget.Serialize(ar);
    MappingVector loaded = ReadOwnedElements<CMapping>(ar);
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, loaded);
    m_allowDefault = allowDefault;
    m_defaultTarget = std::move(defaultTarget);
}

BOOL CMappings::SaveToRegistry(const std::string& keyPath) const {
    CScopedLock lock(*this);
    if (!RegDeleteKeyTree(keyPath))
        return FALSE;
    BOOL ok = RegWriteDWORD(keyPath, kAllowDefault, m_allowDefault);
    ok &= m_defaultTarget.SaveToRegistry(keyPath);
    return ok && SaveNumberedElements<CMapping>(*this, keyPath, kMappingPrefix,
                                                [](const CMapping& mapping, const std::string& path) {
                                                    return mapping.SaveToRegistry(path);
                                                });
}

void CMappings::LoadFromRegistry(const std::string& keyPath) {
    const DWORD allowDefault = RegReadDWORD(keyPath, kAllowDefault, kLoadedAllowDefault);
    CHostPort defaultTarget;
    defaultTarget.LoadFromRegistry(keyPath);
    const std::string_view prefix(kMappingPrefix);
    MappingVector loaded = LoadSubKeyElements<CMapping>(
        keyPath, prefix, [&](const std::string& path) -> std::unique_ptr<CMapping> {
            // Only sub-keys whose names begin with exactly "Mapping" (letter case counts).
            const std::string_view name = std::string_view(path).substr(keyPath.size() + 1);
            if (name.substr(0, prefix.size()) != prefix)
                return nullptr;
            auto mapping = std::make_unique<CMapping>();
            mapping->LoadFromRegistry(path);
            return mapping;
        });
    CScopedLock lock(*this);
    ReplaceOwnedElements(*this, loaded);
    m_allowDefault = allowDefault;
    m_defaultTarget = std::move(defaultTarget);
}
