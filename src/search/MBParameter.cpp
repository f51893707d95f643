#include "MBParameter.h"

namespace search {

modbus::TBaudRate BaudOfText(std::string_view text)
{
    return text == "9600" ? modbus::br9600 : modbus::br19200;
}

modbus::TParityScheme ParityOfText(std::string_view text)
{
    if (text == "None")
        return modbus::psNone;
    if (text == "Odd")
        return modbus::psOdd;
    return modbus::psEven;
}

std::string_view TextOfParity(modbus::TParityScheme p)
{
    switch (p) {
    case modbus::psNone: return "None";
    case modbus::psOdd: return "Odd";
    case modbus::psEven: break;
    }
    return "Even";
}

}  // namespace search
