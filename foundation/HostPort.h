#pragma once
// A host name and a port: the target of a port mapping.

#include "platform/framework/Object.h"
#include "platform/kernel/Types.h"

#include <string>

class CHostPort : public CObject {
    DECLARE_SERIAL(CHostPort)
public:
    CHostPort() = default;
    CHostPort(std::string host, DWORD port) : Host(std::move(host)), Port(port) {}

    bool operator==(const CHostPort& other) const {
        return Host == other.Host && Port == other.Port;
    }

    // Host (string), then Port (4 bytes).
    void Serialize(CArchive& ar) override;
    // Host as a string and Port as a DWORD in the key `subKeyPath`. TRUE when both were written.
    virtual BOOL SaveToRegistry(const std::string& subKeyPath) const;
    // Host (default empty) and Port (default 0).
    virtual void LoadFromRegistry(const std::string& subKeyPath);

    std::string Host;
    DWORD Port = 0;
};
