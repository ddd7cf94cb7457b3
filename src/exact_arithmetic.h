// The sound is defined operation by operation in IEEE double (and float)
// arithmetic: refuse to build where the compiler would compute it otherwise.
#pragma once

#include <cfloat>

#if defined(__FAST_MATH__)
#error "gridwave must not be built with -ffast-math: the sound is defined by exact IEEE arithmetic"
#endif

#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "gridwave needs each floating operation evaluated in its own type (FLT_EVAL_METHOD 0, e.g. SSE2, not x87)"
#endif
