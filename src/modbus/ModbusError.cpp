#include "ModbusError.h"

namespace modbus {

std::string FormatMessage(const char* text, long long a, long long b)
{
    std::string out;
    const long long args[2] = {a, b};
    int next = 0;
    for (const char* p = text; *p; ++p) {
        if (p[0] == '%' && p[1] == 'd' && next < 2) {
            out += std::to_string(args[next++]);
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace modbus
