// Feeds arbitrary bytes to the Telnet proxy's command mode as a client would type and
// negotiate them: the option machine, the line editor and the parse of each completed command
// line. Besides crashes it checks the caps (command line, recorded negotiation), that the
// replay is whole IAC verb option triples, that nothing is answered once the echo flag is
// off, and that every target's port is usable or refused.

#include "Require.h"
#include "proxies/telnet/TelnetCommandMode.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CTelnetCommandMode mode;
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        const bool echo = mode.IsEchoOn();
        const std::size_t before = out.size();
        if (mode.Feed(data[i], out)) {
            const std::string line = mode.TakeCommandLine();
            Require(!line.empty() && line.size() <= 255);
            const STelnetTarget target = ParseTelnetTarget(line);
            Require(target.portValid ? target.port >= 1 && target.port <= 65535
                                     : target.port == 0);
        }
        // With the echo flag off nothing is answered, but for the DO ECHO that turns it on.
        Require(echo || mode.IsEchoOn() || out.size() == before);
        Require(mode.GetCommandLine().size() <= 255);
    }
    Require(mode.GetRecordedCount() <= 256);
    const std::string replay = mode.GetReplay();
    Require(replay.size() == mode.GetRecordedCount() * 3);
    for (std::size_t i = 0; i < replay.size(); i += 3) {
        const auto verb = static_cast<unsigned char>(replay[i + 1]);
        Require(static_cast<unsigned char>(replay[i]) == 255 && verb >= 251);
    }
    return 0;
}
