#pragma once
// nvreg: command-line access to the configuration store for administrators and tests.

#include <cstdio>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int kNvregOk = 0;
inline constexpr int kNvregFailed = 1;  // a missing key or value, bad input, a store error
inline constexpr int kNvregUsage = 2;   // the command line itself is wrong

// Runs one command line (without the program name), writing results to `out` and messages
// to `err`; returns the exit code.
int RunNvreg(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
