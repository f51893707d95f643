#pragma once

// The narrow platform interface of a serial line, as the connection and its worker thread use
// it. PosixSerialPort implements it over termios; a Win32 implementation would sit beside it.

#include "ModbusTypes.h"

#include <cstdint>
#include <memory>
#include <string>

namespace modbus {

struct LineSettings {
    uint32_t baud = 19200;  // bits per second
    TDataBits dataBits = db8;
    TParityScheme parity = psEven;
    TStopBits stopBits = sb1;
    TFlowControl flowControl = fcNone;
    bool rtsOn = true;  // RTS held on (no handshake, or DTR/DSR)
    bool dtrOn = true;  // DTR held on (any flow control but DTR/DSR)
};

enum class WaitResult { Data, Timeout, Stopped, Hangup };

class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens the device for exclusive use; raises EModbusError "Could not open serial port" with
    // the system's reason.
    virtual void Open(const std::string& name) = 0;
    // Uses a descriptor somebody else opened; Close leaves it open for its owner.
    virtual void Hook(int fd) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    // False when the device refuses the settings.
    virtual bool Configure(const LineSettings& s) = 0;
    virtual void Purge(bool input, bool output) = 0;
    // Waits until bytes can be read; timeoutMs < 0 waits until data, Stop() or a hang-up.
    virtual WaitResult WaitForData(int timeoutMs) = 0;
    // Ends a WaitForData in progress (or the next one) with Stopped. Any thread.
    virtual void Stop() = 0;
    // Bytes read (0 when none were there); -1 when the device has gone.
    virtual int Read(uint8_t* buf, int max) = 0;
    // True when all bytes were handed to the driver within the time-out.
    virtual bool Write(const uint8_t* bytes, int count, int timeoutMs) = 0;
    // Bytes the driver still holds for sending; 0 when it holds none or cannot tell. Bytes in
    // the transmitter's own FIFO or an adapter's buffer are not counted.
    virtual int OutputQueued() = 0;
    virtual void SetRTS(bool on) = 0;
    virtual void SetDTR(bool on) = 0;
    // True once the device has hung up (a USB adapter pulled, a pty's other side closed). Any
    // thread.
    virtual bool Gone() const { return false; }
};

std::unique_ptr<ISerialPort> CreatePosixSerialPort();

// Bits per second a tty runs at, whatever way its speed was set (0 when it cannot be read). On
// the master side of a pseudo-terminal this is the speed its slave side was given.
uint32_t ReadLineSpeed(int fd);

// "ttyUSB0" means /dev/ttyUSB0; a name with a slash is a path.
std::string SerialDevicePath(const std::string& name);

}  // namespace modbus
