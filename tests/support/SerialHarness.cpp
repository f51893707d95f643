#include "SerialHarness.h"

namespace testing_support {

using namespace modbus;

SerialHarness::SerialHarness(Path path, TTransmissionMode mode, TModbusConnection::PortFactory factory)
    : connection(events, std::move(factory))
{
    connection.SetSynchronous(path == Path::Synchronous);
    connection.SetPort(pty.SlavePath());
    connection.SetTransmissionMode(mode);
    client.SetConnection(&connection);
    events.OnException = [this](const std::string& m) { exceptions.push_back(m); };

    auto record = [this](uint8_t command, const TTransactionInfo& info, uint16_t start, uint16_t count,
                         const TRegValues& values) -> Result& {
        return results.emplace_back(
            Result{info, command, start, count, values, {}, daReturnQueryData, 0, Clock::now()});
    };
    client.OnHoldingRegistersRead = [record](TModbusClient&, const TTransactionInfo& i, uint16_t start,
                                             uint16_t count, const TRegValues& v) { record(3, i, start, count, v); };
    client.OnSingleRegisterWrite = [record](TModbusClient&, const TTransactionInfo& i, uint16_t reg,
                                            uint16_t value) { record(6, i, reg, 0, {value}); };
    client.OnMultipleRegistersWrite = [record](TModbusClient&, const TTransactionInfo& i, uint16_t start,
                                               uint16_t count, const TRegValues& v) { record(16, i, start, count, v); };
    client.OnDiagnostics = [record](TModbusClient&, const TTransactionInfo& i, TDiagnosticAction a, uint16_t result) {
        Result& r = record(8, i, 0, 0, {});
        r.action = a;
        r.diagResult = result;
    };
    client.OnServerIdentificationReport = [record](TModbusClient&, const TTransactionInfo& i, int count,
                                                   const TServerIdentificationData& d) {
        record(17, i, 0, static_cast<uint16_t>(count), {}).data = d;
    };
    connection.SetOnFrameSend([this](TModbusConnection&, const TFrameData& d) { sentFrames.push_back(d); });
    connection.SetOnFrameReceive(
        [this](TModbusConnection&, const TFrameData& d) { receivedFrames.push_back(d); });
}

void SerialHarness::Open()
{
    connection.SetActive(true);
}

bool SerialHarness::WaitResults(size_t n, std::chrono::milliseconds timeout)
{
    return events.RunUntil([this, n] { return results.size() >= n; }, timeout);
}

}  // namespace testing_support
