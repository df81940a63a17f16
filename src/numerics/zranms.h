// The seed guard of the procedure's Lehmer stream and the seed macro variables. Declared
// with the generator itself in zranuni.h; this header stays for the callers that name it.
#pragma once

#include "numerics/zranuni.h"
