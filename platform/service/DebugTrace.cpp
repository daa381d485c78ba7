#include "platform/service/DebugTrace.h"

#include "platform/kernel/Paths.h"
#include "platform/service/LogSink.h"

#include <cstdlib>
#include <string>
#include <syslog.h>
#include <unistd.h>

void OutputDebugString(const char* text) {
    std::string line = text ? text : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    line = OneLine(line);

    const char* file = std::getenv(kTraceFileVariable);
    if (file && *file) {
        AppendLineToFile(file, LocalTimeStamp(true) + " [" + std::to_string(getpid()) + "] " +
                                   line + "\n");
        return;
    }
    std::string program = ProgramPath();
    std::string::size_type slash = program.rfind('/');
    SyslogWrite(slash == std::string::npos ? "norvane" : program.substr(slash + 1), LOG_DEBUG,
                line);
}
