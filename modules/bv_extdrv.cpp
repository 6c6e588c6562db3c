// extdrv: turns its options into one request for the external drive board's
// peripheral-control process. pt's twin: the options, codes, parser and usage
// are pt's (bv_pt.cpp); extdrv has its own number, segment and record, and its
// reports name this unit.
#include "debug_module.h"
#include "peripheral_request.h"

static const char EXTDRV_UNIT[] = "bv_extdrv";

enum { EXTDRV_ID = 24 };

// The record starts at zero in each process; only the parser writes it.
static peripheral_request extdrv_request;

static const pt_profile extdrv_twin = {EXTDRV_ID, EXTDRV_UNIT, "module name: extdrv",
                                       EXTDRV_REQUEST_KEY, &extdrv_request};

static int extdrv_run(int argc, char **argv) { return pt_profile_run(&extdrv_twin, argc, argv); }

static int extdrv_usage(void) { return pt_profile_usage(&extdrv_twin); }

static debug_module extdrv_module = {"extdrv", EXTDRV_ID, extdrv_run, extdrv_usage, NULL};

MODULE_REGISTER(extdrv_module)
