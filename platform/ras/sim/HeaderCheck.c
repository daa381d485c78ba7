/* Compiles the dial-up API and the simulator's test controls as C, with their record-size
 * checks, so that both headers stay usable by a library written in C. */
#include "platform/ras/RasApi.h"
#include "platform/ras/sim/RasSimControl.h"
