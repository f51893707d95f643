#pragma once

// Modbus TCP: one thread per client connection; the unit identifier picks the device.

#include "Device.h"
#include "Wake.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace vsim {

class TTcpServer {
public:
    // Port 0 picks a free port. Throws std::runtime_error with the reason.
    static std::unique_ptr<TTcpServer> Listen(const std::string& host, uint16_t port,
                                              TDevices devices,
                                              std::shared_ptr<TRequestLog> log = nullptr);
    ~TTcpServer();
    TTcpServer(const TTcpServer&) = delete;
    TTcpServer& operator=(const TTcpServer&) = delete;

    // "HOST:PORT" as bound.
    std::string Address() const;
    void Start();
    void Stop();

private:
    TTcpServer(int fd, TDevices devices, std::shared_ptr<TRequestLog> log);
    void Log(const std::vector<uint8_t>& wire, int tid, int unit, std::span<const uint8_t> pdu,
             std::string result, std::string reason = {});
    void AcceptLoop();
    void Serve(int fd);
    void Answer(int fd, TSimDevice* d, uint16_t tid, uint16_t previousTid, uint8_t unit,
                const std::vector<uint8_t>& request, std::vector<uint8_t> pdu);

    int fd_;
    TDevices devices_;
    std::shared_ptr<TRequestLog> log_;
    TWake wake_;
    std::thread acceptThread_;
    std::mutex mutex_;
    struct TClient {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<TClient> clients_;
};

}  // namespace vsim
