#pragma once

#include "ModbusError.h"

#include <functional>
#include <string>

namespace testing_support {

// The library's message a call raised; empty when it raised nothing.
inline std::string ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const modbus::EModbusError& e) {
        return e.what();
    }
    return "";
}

}  // namespace testing_support
