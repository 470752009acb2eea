// zondrelctl's own trace state (file suffix .zondrelctl): the settings it reads
// are traced as the server traces them, but not into the server's file.
#include "platform/trace.h"

ZONDREL_TRACE_MODULE("zondrelctl")
