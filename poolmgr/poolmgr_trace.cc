// The pool library's own trace state and file (suffix ".poolmgr").
#include "platform/trace.h"

ZONDREL_TRACE_MODULE("poolmgr")
