// A serial reply as the client judges it: framing and checksum, classification against the
// request, then the content check of the request's function, in RTU and ASCII. The first bytes
// choose the request; the rest arrive as the wire bytes of the reply.

#include "FuzzCheck.h"
#include "ModbusError.h"
#include "ModbusFrame.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace modbus;

namespace {

constexpr size_t kHeader = 6;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < kHeader)
        return 0;
    const TTransmissionMode mode = (data[0] & 1) ? tmASCII : tmRTU;
    const int function = (data[0] >> 1) % 5;
    const uint8_t address = data[1];
    const auto start = static_cast<uint16_t>((data[2] << 8) | data[3]);
    const auto count = static_cast<uint16_t>(1 + data[4] % 125);
    const uint8_t extra = data[5];
    const uint8_t* wire = data + kHeader;
    // The receiver never hands over more than its wire buffer holds.
    const int length = static_cast<int>(std::min<size_t>(size - kHeader, WireFrameCapacity(mode)));

    TModbusBuffer query(RawFrameCapacity(mode));
    TModbusBuffer reply(RawFrameCapacity(mode));
    std::array<uint16_t, 123> writeValues{};
    const uint16_t writeCount = std::min<uint16_t>(count, 123);
    for (size_t i = 0; i < writeValues.size(); ++i)
        writeValues[i] = static_cast<uint16_t>(start + i);
    const auto action = static_cast<TDiagnosticAction>(extra % 15);
    switch (function) {
    case 0: BuildReadHoldingRegisters(query, mode, address, start, count); break;
    case 1: BuildWriteSingleRegister(query, mode, address, start, count); break;
    case 2:
        BuildWriteMultipleRegisters(query, mode, address, start,
                                    std::span<const uint16_t>(writeValues.data(), writeCount));
        break;
    case 3: BuildDiagnostics(query, mode, address, action); break;
    default: BuildReportServerIdentification(query, mode, address); break;
    }

    // Ending a reply by its length must never cut off a frame that the decoder would take
    // differently: a prefix that counts as complete decodes as a client frame of that length.
    if (mode == tmRTU) {
        TModbusBuffer raw(RawFrameCapacity(mode));
        for (int n = 0; n <= length; ++n) {
            const int expected = ExpectedRtuReplyLength(wire, n);
            if (IsCompleteRtuReply(wire, n))
                Check(expected == n && DecodeFrame(mode, cmClient, wire, n, raw) && raw.Size() == n);
        }
    }

    // The server side of the decoder sees the same bytes. ASCII minimums count the colon and
    // CR LF but not the doubled digits, so two raw bytes are the least that can decode.
    {
        TModbusBuffer raw(RawFrameCapacity(mode));
        if (DecodeFrame(mode, cmServer, wire, length, raw))
            Check(raw.Size() >= (mode == tmRTU ? MinRawFrame(mode, cmServer) : 2));
    }

    const Classification c = ClassifyReply(mode, wire, length, query, reply);
    if (c.reply != trSuccess)
        return 0;
    Check(reply.Size() >= (mode == tmRTU ? MinRawFrame(mode, cmClient) : 2));
    // Data bytes received, the checksum not counted: no accepted field may lie beyond them.
    const int dataEnd = reply.Size() - ChecksumSize(mode);
    switch (function) {
    case 0: {
        TRegValues values;
        if (ReadHoldingRegistersReply(reply, mode, count, values))
            Check(values.size() == count && 3 + 2 * count <= dataEnd);
        break;
    }
    case 1: Check(!WriteSingleRegisterReply(reply, mode, start, count) || dataEnd >= 6); break;
    case 2:
        Check(!WriteMultipleRegistersReply(reply, mode, start, writeCount) || dataEnd >= 6);
        break;
    case 3: {
        uint16_t result = 0;
        Check(!DiagnosticsReply(reply, mode, DiagnosticRequestOf(action), result) || dataEnd >= 6);
        Check(DiagnosticActionOf(DiagnosticRequestOf(action).subFunction,
                                 DiagnosticRequestOf(action).data) == action);
        break;
    }
    default: {
        TServerIdentificationData id;
        const bool whole = ServerIdentificationReply(reply, mode, id);
        Check(static_cast<int>(id.size()) <= std::max(0, dataEnd - 3));
        Check(!whole || id.size() == reply.Data()[2]);
        break;
    }
    }
    return 0;
}
