#pragma once

#include "ModbusError.h"

#include <sys/resource.h>

#include <optional>
#include <string>

namespace testing_support {

// The error of type E that `call` raises, if it raises one.
template <class E, class F>
std::optional<E> RaisedBy(F&& call)
{
    try {
        call();
    } catch (const E& e) {
        return e;
    }
    return std::nullopt;
}

// The message of the E a call raised; empty when it raised nothing.
template <class E = modbus::EModbusError, class F>
std::string ErrorOf(F&& call)
{
    const auto e = RaisedBy<E>(call);
    return e ? e->what() : "";
}

// CPU time of this process so far: a wait that spins shows here, not on the clock.
inline double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace testing_support
