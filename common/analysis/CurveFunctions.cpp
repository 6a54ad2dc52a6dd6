#include "common/analysis/CurveFunctions.h"

#include <cstdlib>

int parametric_parameter_count(int type)
{
    switch (std::abs(type)) {
    case 1: return 1;
    case 2: return 3;
    case 3: return 4;
    case 4: return 5;
    case 5: return 7;
    case 6: return 4;
    case 7: return 5;
    case 8: return 5;
    case 108: return 1;
    case 109: return 1;
    default: return 10;
    }
}

int icc_function_type(int type)
{
    // The engine numbers its functions from 1; the ICC tables from 0.
    return type >= 1 && type <= 5 ? type - 1 : -1;
}
