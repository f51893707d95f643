#pragma once

// vortan-sim's request log for tests of any folder: the simulator dumps it on SIGUSR1.

#include "SimProcess.h"

#include <nlohmann/json.hpp>

#include <memory>

namespace simtest {

// One entry of the dump's "requests"; fields the request does not hold keep -1 or stay empty.
struct SimRequest {
    long long n = 0;            // 1, 2, ... in order of arrival
    double tMs = 0.0;           // since the simulator started
    std::string transport;      // "tcp", "rtu", "ascii"
    uint32_t baud = 0;          // 0 on TCP
    int tid = -1;               // TCP transaction id
    int unit = -1;              // -1: the bytes made no frame
    int function = -1;
    int start = -1;             // functions 3, 6, 16
    int count = -1;
    std::vector<uint16_t> values;  // functions 6, 16
    int sub = -1;               // function 8
    std::vector<uint16_t> data;    // function 8
    std::string result;         // "reply", "exception N", "silent", "ignored"
    std::string reason;
    std::string hex;
};

std::vector<SimRequest> RequestsOf(const nlohmann::json& dump);

// "fc3 1000+16 reply", "fc8 sub0 [4660] reply", "fc16 29254+3 [0,4711,0] exception 2", "- ignored (noise)"
std::string Brief(const SimRequest& r);
std::vector<std::string> Briefs(const std::vector<SimRequest>& requests);

// vortan-sim with --dump into a temporary file that is removed with the object.
class LoggedSim {
public:
    explicit LoggedSim(std::vector<std::string> args);
    ~LoggedSim();

    uint16_t TcpPort() const { return process_->TcpPort(); }
    const std::string& PtyPath() const { return process_->PtyPath(); }
    SimProcess& Process() { return *process_; }
    const std::string& DumpPath() const { return path_; }

    // A dump newer than the one there; throws std::runtime_error when none comes.
    nlohmann::json Dump();
    std::vector<SimRequest> Requests() { return RequestsOf(Dump()); }
    // The requests since the previous call; waits for at least count of them, or the deadline.
    std::vector<SimRequest> WaitNewRequests(size_t count,
                                            std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::vector<SimRequest> NewRequests() { return WaitNewRequests(0); }

private:
    std::string path_;
    std::unique_ptr<SimProcess> process_;
    long long seen_ = 0;
};

}  // namespace simtest
