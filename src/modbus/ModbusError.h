#pragma once

#include <stdexcept>
#include <string>

namespace modbus {

// The library's message table. Callers and tests compare against these texts, so they are
// part of the interface and must not change.
namespace msg {
inline constexpr const char* NoBufferSpace =
    "There is not enough space in the buffer to perform the requested action";
inline constexpr const char* BufferPositionInvalid = "Buffer position is invalid (%d)";
inline constexpr const char* BufferSizeInvalid = "Buffer size is invalid (%d)";
inline constexpr const char* EncodeFailed = "Failed to encode frame";
inline constexpr const char* DecodeFailed = "Failed to decode frame";
inline constexpr const char* InternalError = "Internal error";
inline constexpr const char* StartRegisterInvalid = "Starting register index is invalid (%d)";
inline constexpr const char* RegisterCountRange = "Register count must be between 1 and %d";
inline constexpr const char* NoActiveConnection = "There is no active connection";
inline constexpr const char* DiagnosticUnknown = "Diagnostic action was not recognized";
inline constexpr const char* ValueRange = "Value must be between %d and %d";
inline constexpr const char* CannotOpenPort = "Could not open serial port";
inline constexpr const char* InitBuffersFailed = "Failed to initialize serial I/O buffers";
inline constexpr const char* InitTimeoutsFailed = "Failed to initialize communication timeouts";
inline constexpr const char* InitEventMaskFailed = "Failed to initialize serial event mask";
inline constexpr const char* UpdateDcbFailed = "Failed to update device control block";
inline constexpr const char* MustBeActive =
    "Connection MUST be active for the requested action to be performed";
inline constexpr const char* MustNotBeActive =
    "Connection must NOT be active for the requested action to be performed";
inline constexpr const char* ClockResolutionFailed = "Failed to enhance system clock resolution";
}  // namespace msg

// Formats a table message; each "%d" takes the next argument, in order.
std::string FormatMessage(const char* text, long long a = 0, long long b = 0);

class EModbusError : public std::runtime_error {
public:
    explicit EModbusError(const std::string& message) : std::runtime_error(message) {}
    EModbusError(const char* text, long long a, long long b = 0)
        : std::runtime_error(FormatMessage(text, a, b)) {}
    // what() stays the table text; the system's reason, where there is one, travels beside it.
    EModbusError(const std::string& message, std::string reason, int systemError)
        : std::runtime_error(message), reason_(std::move(reason)), systemError_(systemError) {}

    const std::string& Reason() const { return reason_; }
    int SystemError() const { return systemError_; }

private:
    std::string reason_;
    int systemError_ = 0;
};

}  // namespace modbus
