/*
 * Test-only exports of the simulated dial-up library. They act on the simulated lines from
 * outside, as the telephone network and a test's eyes would; the engine never uses them (the
 * loader does not look them up). A test finds them with dlsym on the library the loader
 * loaded. Entries are named as in the phonebook, exactly.
 */
#ifndef NORVANE_PLATFORM_RAS_SIM_RASSIMCONTROL_H
#define NORVANE_PLATFORM_RAS_SIM_RASSIMCONTROL_H

#include "platform/ras/RasApi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What happened on an entry since its phonebook was (re)loaded. */
typedef struct RASSIMSTATS {
    uint32_t dials;    /* RasDialA calls that started a dial (not those that found it connected) */
    uint32_t connects; /* dials that reached RASCS_Connected */
    uint32_t failures; /* dials that ended with a result code at a state */
    uint32_t hangUps;  /* RasHangUpA calls that released a line or stopped a dial */
    uint32_t drops;    /* lines dropped by RasSimDropLine */
    uint32_t events;   /* notifier calls */
} RASSIMSTATS;

/* Statistics of one entry, or of all entries added up when `entry` is NULL. */
uint32_t RasSimGetStats(const char* entry, RASSIMSTATS* stats);

/* Drops the entry's connected line, as the telephone network would: its connection stays
 * listed with RASCS_Disconnected and `error` (0: ERROR_DISCONNECTION) until it is hung up, and
 * no event is sent. ERROR_INVALID_HANDLE when the entry has no connected line,
 * ERROR_INVALID_PARAMETER for an error code without a text. */
uint32_t RasSimDropLine(const char* entry, uint32_t error);

/* The RASDIALPARAMSA record of the entry's last RasDialA call that started a dial, as it was
 * given. ERROR_CANNOT_FIND_PHONEBOOK_ENTRY when there was none. */
uint32_t RasSimGetLastDialParams(const char* entry, RASDIALPARAMSA* params);

/* Replaces the entry's outcome list (phonebook syntax, for instance "fail 2 676, connect") and
 * starts counting its attempts from 0 again, until its phonebook file changes.
 * ERROR_INVALID_PARAMETER for a list that does not parse, ERROR_CANNOT_FIND_PHONEBOOK_ENTRY for
 * an entry the phonebook lacks. */
uint32_t RasSimSetOutcomes(const char* entry, const char* outcomes);

#ifdef __cplusplus
}
#endif

#endif
