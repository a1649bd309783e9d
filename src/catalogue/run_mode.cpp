// Storage for the run mode.
#include "catalogue/run_mode.h"

RunMode g_mode = RunMode::All;
