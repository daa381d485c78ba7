#pragma once
// theConfiguration: the console's copy of the engine's configuration, one object of the
// engine's class made as an inert copy (engine/NorvaneEngine.h) that is never started and opens
// nothing. The console session fills it from the engine's lists and keeps it current from the
// engine's notifications; the windows read and edit it under each container's lock. The parts
// it uses: the user database, the service manager, the location array, the web cache's
// settings, the dialer with its profiles (never started: it dials nothing), the eleven rights
// (kinds 0 to 10) and the machine map with its sessions.
//
// Made on first use and never destroyed, so that a session thread still ending at exit never
// reaches a destroyed object.

class CNorvaneEngine;

extern CNorvaneEngine& theConfiguration;

// Removes every machine (with its sessions), service, user and group, and location from
// `configuration`, each container under its own lock. Objects leave their containers there
// and go with their last holder (a queued notice or an open dialog may still hold one).
void EmptyConfiguration(CNorvaneEngine& configuration);
