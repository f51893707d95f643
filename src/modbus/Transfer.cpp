#include "Transfer.h"

#include "ModbusClient.h"
#include "ModbusTcpClient.h"

#include <stdexcept>

namespace modbus {

Outcome PerformTcp(TModbusTcpClient& client, const Request& r)
{
    Outcome o;
    o.attempts = 1;
    std::vector<uint16_t> words;
    switch (r.op) {
    case Op::Read: client.ReadHoldingRegisters(r.start, r.count, words); break;
    case Op::WriteSingle: client.WriteSingleRegister(r.start, r.values.at(0)); break;
    case Op::WriteMultiple: client.WriteMultipleRegisters(r.start, r.values); break;
    case Op::Identify: client.ReportServerIdentification(words); break;
    case Op::Diagnostics: throw std::invalid_argument("the Modbus TCP client has no function 8 (Diagnostics)");
    }
    const TModbusTcpResult& res = client.LastResult();
    o.status = res.Reply;
    if (res.Reply == trExceptionReply) {
        o.exception = ServerExceptionFromCode(res.ExceptionCode);
        o.exceptionCode = res.ExceptionCode;
    }
    if (res.Reply == trSuccess) {
        if (r.op == Op::Read)
            o.values = std::move(words);
        else if (r.op == Op::Identify)
            o.data = IdentificationBytes(words);
    }
    return o;
}

uint32_t Submit(TModbusClient& client, const Request& r)
{
    switch (r.op) {
    case Op::Read: return client.ReadHoldingRegisters(r.start, r.count);
    case Op::WriteSingle: return client.WriteSingleRegister(r.start, r.values.at(0));
    case Op::WriteMultiple: return client.WriteMultipleRegisters(r.start, r.values);
    case Op::Diagnostics: return client.Diagnostics(daReturnQueryData);
    case Op::Identify: return client.ReportServerIdentification();
    }
    return 0;
}

std::vector<uint8_t> IdentificationBytes(std::span<const uint16_t> words)
{
    std::vector<uint8_t> bytes;
    for (uint16_t w : words) {
        if (w == 0)
            break;
        bytes.push_back(static_cast<uint8_t>(w >> 8));
        bytes.push_back(static_cast<uint8_t>(w));
    }
    return bytes;
}

}  // namespace modbus
