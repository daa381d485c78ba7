#include "foundation/HostPort.h"

#include "foundation/Archive.h"
#include "foundation/DataObjectValues.h"
#include "foundation/RegistryStore.h"

IMPLEMENT_SERIAL(CHostPort, CObject, 1)

void CHostPort::Serialize(CArchive& ar) {
    if (ar.IsStoring())
        ar << Host << Port;
    else
        ar >> Host >> Port;
}

BOOL CHostPort::SaveToRegistry(const std::string& subKeyPath) const {
    BOOL ok = RegWriteString(subKeyPath, DataObjectValues::Host, Host);
    ok &= RegWriteDWORD(subKeyPath, DataObjectValues::Port, Port);
    return ok;
}

void CHostPort::LoadFromRegistry(const std::string& subKeyPath) {
    Host = RegReadString(subKeyPath, DataObjectValues::Host, "");
    Port = RegReadDWORD(subKeyPath, DataObjectValues::Port, 0);
}
