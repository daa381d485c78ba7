#pragma once
// Where the program and its state live.

#include <string>

// $NORVANE_STATE_DIR when set and not empty, else /var/lib/norvane. Not created here.
std::string StateDirectory();

// The running program's own file (/proc/self/exe) and the folder that holds it, without a
// trailing slash. Empty when the link cannot be read.
std::string ProgramPath();
std::string ProgramDirectory();

// Makes `path` the process's current folder (for every thread). False when it cannot.
bool SetCurrentDirectory(const std::string& path);

// Creates `path` and every missing parent with `mode`; true when it exists as a folder after.
bool MakeDirectories(const std::string& path, unsigned mode = 0700);

// True when `name` may become a file name or a key path component: not empty, not "." or
// "..", and without '/', '\' or control characters.
bool IsSafeName(const std::string& name);
