#include "console/WardenhallDoc.h"

#include "console/ConsoleSession.h"
#include "console/session/ConsoleConfiguration.h"
#include "engine/NorvaneEngine.h"

CWardenhallDoc::~CWardenhallDoc() { EmptyConfiguration(theConfiguration); }

BOOL CWardenhallDoc::OnNewDocument() {
    if (ConsoleSession().IsOnline())
        return FALSE;
    EmptyConfiguration(theConfiguration);
    return TRUE;
}
