// The registry library's own trace state, written to its own file (.regwrap).
#include "platform/trace.h"

ZONDREL_TRACE_MODULE("regwrap")
