// The simulator's own trace state (file suffix .dcsim).
#include "platform/trace.h"

ZONDREL_TRACE_MODULE("dcsim")
