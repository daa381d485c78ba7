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

// What the engine creates is its own user's alone: its logs, audit files and cache hold user
// names, client addresses, visited URLs and page bodies. Files the platform layer creates get
// kPrivateFileMode, folders kPrivateFolderMode (both less the umask); files and folders that
// exist keep the mode they have.
inline constexpr unsigned kPrivateFileMode = 0600;
inline constexpr unsigned kPrivateFolderMode = 0700;

// Creates `path` and every missing parent (kPrivateFolderMode); true when it exists as a folder
// after.
bool MakeDirectories(const std::string& path);

// True when `name` may become a file name or a key path component: not empty, not "." or
// "..", and without '/', '\' or control characters.
bool IsSafeName(const std::string& name);
