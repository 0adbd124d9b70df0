#include "platform/d3dx/d3dx_math.h"
