#pragma once
// The two places the event log and the debug trace write to. Internal to platform/service.

#include <string>

// Sends `text` to syslog with `ident`, the syslog priority `priority` and facility daemon.
// Safe from any thread (the process-wide ident is switched under a lock).
void SyslogWrite(const std::string& ident, int priority, const std::string& text);

// Appends `line` (which should end in a line break) to the file at `path` with one write, so
// lines of concurrent writers, also in other processes, never interleave. The file is created
// mode 0600. False when it cannot be opened or written.
bool AppendLineToFile(const std::string& path, const std::string& line);

// The local time now as "YYYY-MM-DD HH:MM:SS", with ".mmm" when `millis`.
std::string LocalTimeStamp(bool millis);

// `text` with every control byte (and DEL) written as \xHH, so it stays on one line.
std::string OneLine(const std::string& text);
