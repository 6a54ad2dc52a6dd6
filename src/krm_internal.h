// Corvane colour engine: internals shared by src/ and the engine tests. Not for the application.
#pragma once

#include "krm.h"

#include <cassert>

// Caller mistakes (null required arguments) stop the process with the condition and the file.
#define _krmAssert(cond) assert(cond)

// ==== CONTEXT-AND-CONTAINER ====
// ==== END CONTEXT-AND-CONTAINER ====

// ==== MATHS ====
// ==== END MATHS ====

// ==== INTERPOLATION ====
// ==== END INTERPOLATION ====

// ==== TONE-CURVES ====
// ==== END TONE-CURVES ====

// ==== TEXT-RECORDS ====
// ==== END TEXT-RECORDS ====

// ==== TAG-TYPES ====
// ==== END TAG-TYPES ====

// ==== CGATS ====
// ==== END CGATS ====

// ==== PIPELINES ====
// ==== END PIPELINES ====

// ==== LINKING ====
// ==== END LINKING ====

// ==== FORMATS ====
// ==== END FORMATS ====

// ==== TRANSFORMS ====
// ==== END TRANSFORMS ====

// ==== BUILTIN-PROFILES ====
// ==== END BUILTIN-PROFILES ====

// ==== OPTIMISATION ====
// ==== END OPTIMISATION ====
