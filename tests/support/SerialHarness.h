#pragma once

// A serial client wired to a pty, every result event recorded on the test's own event queue.

#include "MainThread.h"
#include "ModbusClient.h"
#include "ModbusConnection.h"
#include "PtyPair.h"

#include <gtest/gtest.h>

#include <tuple>

namespace testing_support {

// Results come from the worker thread via the event queue, or on the caller's thread before it returns.
enum class Path { Threaded, Synchronous };

inline std::string PathName(Path p)
{
    return p == Path::Threaded ? "Threaded" : "Synchronous";
}

template <typename Info>
std::string CaseOnPath(const Info& info)
{
    return std::string(std::get<0>(info.param).name) + "_" + PathName(std::get<1>(info.param));
}

struct Result {
    modbus::TTransactionInfo info;
    uint8_t command = 0;
    uint16_t start = 0;
    uint16_t count = 0;
    modbus::TRegValues values;
    modbus::TServerIdentificationData data;
    modbus::TDiagnosticAction action = modbus::daReturnQueryData;
    uint16_t diagResult = 0;
    Clock::time_point at;
};

class SerialHarness {
public:
    explicit SerialHarness(Path path = Path::Threaded, modbus::TTransmissionMode mode = modbus::tmRTU,
                           modbus::TModbusConnection::PortFactory factory = {});

    void Open();
    // Pumps the event queue until n results have arrived; false on time-out.
    bool WaitResults(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    const Result& Last() const { return results.back(); }

    PtyPair pty;
    modbus::EventQueue events;
    modbus::TModbusConnection connection;
    modbus::TModbusClient client;
    std::vector<Result> results;
    std::vector<modbus::TFrameData> sentFrames, receivedFrames;
    std::vector<std::string> exceptions;
};

}  // namespace testing_support
