#pragma once

// The parametric tone-curve functions by the engine's type number: how many parameters each
// stores and which ICC function type (parametricCurveType, 0..4) it is, so every describer names
// a curve the same way.

// Number of parameters of engine type `type` (negative types are inverses with the same count);
// 10 for a type the engine does not number.
int parametric_parameter_count(int type);

// The ICC function type of engine type `type` (engine types 1..5 are ICC types 0..4); -1 for
// types the ICC tables do not define, inverses included.
int icc_function_type(int type);
