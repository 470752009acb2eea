// The server's trace state: lines go to the trace file with suffix .zondrel.
#include "platform/trace.h"

ZONDREL_TRACE_MODULE("zondrel")
