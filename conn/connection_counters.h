// The listeners' counters live with the performance counters that implement
// them.
#pragma once

#include "perf/connection_counters.h"
