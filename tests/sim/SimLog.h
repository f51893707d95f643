#pragma once

// vortan-sim's request log for tests of any folder: start the simulator with its log, ask it
// for a dump while it serves (SIGUSR1), and read the requests it received.
//
//   simtest::LoggedSim sim({"--tcp", "0", "--device", "protect=4711"});
//   ... let the client under test act on sim.TcpPort() or sim.PtyPath() ...
//   const auto requests = sim.NewRequests();   // since the last call
//   ASSERT_EQ(requests.size(), 1u);
//   EXPECT_EQ(simtest::Brief(requests[0]), "fc16 29254+3 [0,4711,0] reply");

#include "SimProcess.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

// One entry of the dump's "requests"; fields the request does not hold keep -1 or stay empty.
struct SimRequest {
    long long n = 0;            // 1, 2, ... in order of arrival
    double tMs = 0.0;           // ms since the simulator started
    std::string transport;      // "tcp", "rtu", "ascii"
    uint32_t baud = 0;          // serial: the line's speed; 0 on TCP
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

// The requests of a parsed dump; throws nlohmann::json::exception when they are malformed.
std::vector<SimRequest> RequestsOf(const nlohmann::json& dump);

// "fc3 1000+16 reply", "fc16 29254+3 [0,4711,0] exception 2", "fc8 sub0 [4660] reply",
// "fc17 exception 1", "- ignored (bad checksum)": the fields that tell requests apart.
std::string Brief(const SimRequest& r);
std::vector<std::string> Briefs(const std::vector<SimRequest>& requests);

// vortan-sim with --dump into a temporary file that is removed with the object.
class LoggedSim {
public:
    explicit LoggedSim(std::vector<std::string> args,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10));
    ~LoggedSim();
    LoggedSim(const LoggedSim&) = delete;
    LoggedSim& operator=(const LoggedSim&) = delete;

    uint16_t TcpPort() const { return process_->TcpPort(); }
    const std::string& PtyPath() const { return process_->PtyPath(); }
    SimProcess& Process() { return *process_; }
    const std::string& DumpPath() const { return path_; }

    // A fresh dump of the running simulator (SIGUSR1, then a newer dump than the one there);
    // throws std::runtime_error when none comes.
    nlohmann::json Dump();
    // Every request since start.
    std::vector<SimRequest> Requests();
    // The requests since the previous NewRequests (or since start).
    std::vector<SimRequest> NewRequests();
    // As NewRequests, but dumps again until at least count new requests are there or the
    // deadline passes; for requests that get no reply to wait for.
    std::vector<SimRequest> WaitNewRequests(size_t count,
                                            std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    std::string path_;
    std::unique_ptr<SimProcess> process_;
    long long seen_ = 0;
};

}  // namespace simtest
