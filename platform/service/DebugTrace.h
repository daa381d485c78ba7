#pragma once
// The debug trace sink: the texts a program writes for its developers. They go to the file
// named by NORVANE_TRACE_FILE when set (appended, one time-stamped line each), otherwise to
// syslog at debug priority. Never to standard output, which belongs to the command line.

inline constexpr const char* kTraceFileVariable = "NORVANE_TRACE_FILE";

// Writes one trace text; a closing line break is optional and never doubled.
void OutputDebugString(const char* text);
