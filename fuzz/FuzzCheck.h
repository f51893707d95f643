#pragma once

#include <cstdlib>

// A property a target checks beside the sanitizers: a violation is a crash the fuzzer keeps.
inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}
