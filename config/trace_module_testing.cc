// The catalogue traces through the module that links it; in the server that
// is the program's own. The test program stands in for it.
#include "platform/trace.h"

ZONDREL_TRACE_MODULE("zondrel")
