// Loads arbitrary bytes as the console sends them to the engine and back: a service list into
// an inert service manager, one service of each framework class, and the UDP mapping, DNS
// and TCP mapping services into live-looking objects (whose settings, mapping tables and link
// settings must stay whole when the record is refused), a client machine and a session record.
// The first byte picks the form, the second the archive's block size. Everything made
// is given up afterwards, so leaks and double frees show.

#include "engine/framework/Machine.h"
#include "engine/framework/ServiceManager.h"
#include "engine/framework/Session.h"
#include "engine/framework/TCPService.h"
#include "engine/framework/UDPService.h"
#include "foundation/Archive.h"
#include "foundation/MemFile.h"
#include "platform/framework/Exception.h"
#include "proxies/dns/DNSService.h"
#include "proxies/mapping/TCPMappingService.h"
#include "proxies/mapping/UDPMappingService.h"
#include "remote/RemoteControlService.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int form = data[0] % 9;
    const std::size_t bufferSize = 1 + data[1] * 2;
    CMemFile file(data + 2, size - 2);
    CServiceManager manager;
    auto tcp = CRef<CTCPService>::Adopt(new CTCPService(8080, "Web", "before", FALSE));
    auto udp = CRef<CUDPService>::Adopt(new CUDPService(53, "DNS", "before", FALSE));
    auto remote = CRef<CRemoteControlService>::Adopt(new CRemoteControlService);
    auto mapping = CRef<CUDPMappingService>::Adopt(new CUDPMappingService);
    mapping->SetDescription("before");
    const CRef<CMappings> table = mapping->GetMappings();
    auto dns = CRef<CDNSService>::Adopt(new CDNSService);
    dns->SetDescription("before");
    dns->SetAllowAutodial(7);
    auto tcpMapping = CRef<CTCPMappingService>::Adopt(new CTCPMappingService);
    CTCPMappingLink link;
    link.UsernameOut = "before";
    tcpMapping->SetLink(link);
    const CRef<CMappings> tcpTable = tcpMapping->GetMappings();
    auto machine = CRef<CMachine>::Adopt(new CMachine);
    auto session = CRef<CSession>::Adopt(new CSession);
    bool failed = false;
    try {
        CArchive ar(&file, CArchive::load, bufferSize);
        switch (form) {
            case 0: manager.Serialize(ar); break;
            case 1: tcp->Serialize(ar); break;
            case 2: udp->Serialize(ar); break;
            case 3: remote->Serialize(ar); break;
            case 4: machine->Serialize(ar); break;
            case 6: mapping->Serialize(ar); break;
            case 7: dns->Serialize(ar); break;
            case 8: tcpMapping->Serialize(ar); break;
            default: session->Serialize(ar); break;
        }
    } catch (CException* e) {
        e->Delete();
        failed = true;
    }
    // A refused record leaves the service as it was.
    if (failed && (tcp->GetDescription() != "before" || udp->GetDescription() != "before" ||
                   mapping->GetDescription() != "before" || mapping->GetMappings().Get() != table.Get() ||
                   dns->GetDescription() != "before" || dns->GetAllowAutodial() != 7 ||
                   tcpMapping->GetLink().UsernameOut != "before" ||
                   tcpMapping->GetMappings().Get() != tcpTable.Get()))
        std::abort();
    // A service that took a record never keeps the upstream web proxy method.
    if (tcpMapping->GetUpstream().ConnectMethod == 1)
        std::abort();
    // Every mapping read can describe itself (its host text goes into a formatted line).
    for (const CRef<CMapping>& each : mapping->GetMappings()->GetMappings())
        each->GetDescription();
    if (!remote->GetCriticalService())
        std::abort();
    // Whatever a session record held, its description is safe to show.
    for (char c : session->GetDescription())
        if (static_cast<unsigned char>(c) < 0x20)
            std::abort();
    return 0;
}
