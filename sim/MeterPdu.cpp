#include "MeterPdu.h"

#include "ModbusFrame.h"

namespace vsim {

namespace {

using modbus::kMaxReadCount;
using modbus::kMaxWriteCount;

uint16_t Word(std::span<const uint8_t> p, size_t i)
{
    return static_cast<uint16_t>((p[i] << 8) | p[i + 1]);
}

void PutWord(std::vector<uint8_t>& out, uint16_t w)
{
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w & 0xFF));
}

}  // namespace

std::vector<uint8_t> ExceptionPdu(uint8_t function, uint8_t code)
{
    return {static_cast<uint8_t>(function | 0x80), code};
}

void TPduServer::CountBusMessage()
{
    std::lock_guard lock(mutex_);
    ++busMessages_;
}

void TPduServer::CountCommError()
{
    std::lock_guard lock(mutex_);
    ++commErrors_;
}

std::optional<std::vector<uint8_t>> TPduServer::Serve(std::span<const uint8_t> pdu, bool broadcast)
{
    if (pdu.empty())
        return std::nullopt;
    const uint8_t fc = pdu[0];
    {
        std::lock_guard lock(mutex_);
        ++serverMessages_;
        if (listenOnly_) {
            // Only a restart of communications brings a listening meter back, and silently.
            if (fc == modbus::fc::Diagnostics && pdu.size() == 5 && Word(pdu, 1) == 0x0001)
                listenOnly_ = false;
            ++noResponses_;
            return std::nullopt;
        }
    }
    std::vector<uint8_t> reply;
    auto fail = [&](uint8_t code) {
        std::lock_guard lock(mutex_);
        ++exceptions_;
        return ExceptionPdu(fc, code);
    };
    switch (fc) {
    case modbus::fc::ReadHoldingRegisters: {
        if (pdu.size() != 5)
            return fail(exIllegalValue);
        const uint16_t start = Word(pdu, 1);
        const uint16_t count = Word(pdu, 3);
        if (count < 1 || count > kMaxReadCount)
            return fail(exIllegalValue);
        std::vector<uint16_t> words;
        if (const TException e = meter_.Read(start, count, words); e != exNone)
            return fail(e);
        reply = {fc, static_cast<uint8_t>(2 * count)};
        for (uint16_t w : words)
            PutWord(reply, w);
        break;
    }
    case modbus::fc::WriteSingleRegister: {
        if (pdu.size() != 5)
            return fail(exIllegalValue);
        const uint16_t value = Word(pdu, 3);
        if (const TException e = meter_.Write(Word(pdu, 1), std::span(&value, 1)); e != exNone)
            return fail(e);
        reply.assign(pdu.begin(), pdu.end());
        break;
    }
    case modbus::fc::WriteMultipleRegisters: {
        if (pdu.size() < 6)
            return fail(exIllegalValue);
        const uint16_t count = Word(pdu, 3);
        const uint8_t bytes = pdu[5];
        if (count < 1 || count > kMaxWriteCount || bytes != 2 * count || pdu.size() != 6u + bytes)
            return fail(exIllegalValue);
        std::vector<uint16_t> values;
        for (uint16_t i = 0; i < count; ++i)
            values.push_back(Word(pdu, 6 + 2 * i));
        if (const TException e = meter_.Write(Word(pdu, 1), values); e != exNone)
            return fail(e);
        reply.assign(pdu.begin(), pdu.begin() + 5);
        break;
    }
    case modbus::fc::Diagnostics: {
        if (pdu.size() != 5)
            return fail(exIllegalValue);
        bool answer = true;
        reply = Diagnostics(Word(pdu, 1), Word(pdu, 3), answer);
        if (!answer)
            return std::nullopt;
        if (reply.size() == 2) {
            std::lock_guard lock(mutex_);
            ++exceptions_;
        }
        break;
    }
    case modbus::fc::ReportServerId: {
        if (!meter_.ReportsId())
            return fail(exIllegalFunction);
        if (pdu.size() != 1)
            return fail(exIllegalValue);
        const auto data = meter_.Identification();
        reply = {fc, static_cast<uint8_t>(data.size())};
        reply.insert(reply.end(), data.begin(), data.end());
        break;
    }
    default:
        return fail(exIllegalFunction);
    }
    if (broadcast)
        return std::nullopt;
    return reply;
}

std::vector<uint8_t> TPduServer::Diagnostics(uint16_t sub, uint16_t data, bool& reply)
{
    std::lock_guard lock(mutex_);
    std::vector<uint8_t> out = {modbus::fc::Diagnostics};
    PutWord(out, sub);
    auto counter = [&](uint16_t value) {
        if (data != 0)
            return ExceptionPdu(modbus::fc::Diagnostics, exIllegalValue);
        PutWord(out, value);
        return out;
    };
    auto clear = [&] {
        busMessages_ = commErrors_ = exceptions_ = serverMessages_ = noResponses_ = 0;
    };
    switch (sub) {
    case 0x00:  // return query data
        PutWord(out, data);
        return out;
    case 0x01:  // restart communications
        if (data != 0x0000 && data != 0xFF00)
            return ExceptionPdu(modbus::fc::Diagnostics, exIllegalValue);
        clear();
        PutWord(out, data);
        return out;
    case 0x02: return counter(0);  // diagnostic register: nothing to report
    case 0x04:
        listenOnly_ = true;
        reply = false;
        return {};
    case 0x0A:
        if (data != 0)
            return ExceptionPdu(modbus::fc::Diagnostics, exIllegalValue);
        clear();
        PutWord(out, data);
        return out;
    case 0x0B: return counter(busMessages_);
    case 0x0C: return counter(commErrors_);
    case 0x0D: return counter(exceptions_);
    case 0x0E: return counter(serverMessages_);
    case 0x0F: return counter(noResponses_);
    case 0x10:
    case 0x11:
    case 0x12: return counter(0);  // no NAK, busy or overrun ever happens here
    case 0x14:
        if (data != 0)
            return ExceptionPdu(modbus::fc::Diagnostics, exIllegalValue);
        PutWord(out, data);
        return out;
    default: return ExceptionPdu(modbus::fc::Diagnostics, exIllegalFunction);
    }
}

}  // namespace vsim
