#pragma once
// CWardenhallDoc: the console's document. It holds nothing of its own: the configuration the
// views show is theConfiguration (console/session/ConsoleConfiguration.h).
//
// New empties the copy's four containers (machines with their sessions, services, users and
// groups, locations), and so does the destructor. New is refused while the console is
// on-line: the running session and open dialogs hold the copy's objects and keep it current.
// GUI thread only.

#include "platform/kernel/Types.h"

class CWardenhallDoc {
public:
    CWardenhallDoc() = default;
    ~CWardenhallDoc();
    CWardenhallDoc(const CWardenhallDoc&) = delete;
    CWardenhallDoc& operator=(const CWardenhallDoc&) = delete;

    // FALSE (and nothing changes) while the console is on-line.
    BOOL OnNewDocument();
};
