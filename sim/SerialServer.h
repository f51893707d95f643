#pragma once

// Serves the devices on one serial line: a new pseudo-terminal or an existing tty. Requests
// end by the length their function code implies or by a silent gap; bytes that make no frame
// are dropped, as a device on a noisy line would.

#include "Device.h"
#include "Wake.h"

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace vsim {

class TSerialServer {
public:
    // Both throw std::runtime_error with the reason. Requests go to the log, when there is one.
    static std::unique_ptr<TSerialServer> OpenPty(TDevices devices,
                                                  std::shared_ptr<TRequestLog> log = nullptr);
    static std::unique_ptr<TSerialServer> OpenTty(const std::string& path, TDevices devices,
                                                  std::shared_ptr<TRequestLog> log = nullptr);
    ~TSerialServer();
    TSerialServer(const TSerialServer&) = delete;
    TSerialServer& operator=(const TSerialServer&) = delete;

    // The path a client opens.
    const std::string& Path() const { return path_; }
    void Start();
    void Stop();

private:
    TSerialServer(int fd, int slaveFd, std::string path, TDevices devices,
                  std::shared_ptr<TRequestLog> log);
    void Run();
    enum class Stage { Arrived, Gap, Final };
    void Extract(Stage stage);
    bool TryRtuAt(size_t offset, size_t length);
    void Handle(const uint8_t* wire, size_t length, bool ascii);
    void Reply(TSimDevice& d, std::vector<uint8_t> pdu, bool ascii, const uint8_t* request,
               size_t requestLength);
    bool WriteAll(const uint8_t* bytes, size_t n);
    void Log(const uint8_t* wire, size_t length, bool ascii, int unit, std::span<const uint8_t> pdu,
             std::string result, std::string reason = {});
    // Drops the first n received bytes as no request, into the log.
    void Discard(size_t n, const char* reason);
    uint32_t Speed() const;
    std::chrono::milliseconds FrameGap() const;
    std::chrono::milliseconds InterFramePause() const;
    bool AcceptsAscii() const;
    bool AcceptsRtu() const;

    int fd_;
    int slaveFd_;  // held open so the line survives clients that close it
    std::string path_;
    TDevices devices_;
    std::shared_ptr<TRequestLog> log_;
    TWake wake_;
    std::thread thread_;
    std::vector<uint8_t> rx_;
    std::chrono::steady_clock::time_point lastRx_;
    bool gapHandled_ = true;
    size_t gapMark_ = 0;  // bytes that came before the last silent gap
};

}  // namespace vsim
