#pragma once

// A real pseudo-terminal pair: the code under test opens the slave path, the test plays the device.

#include "Frames.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <termios.h>
#include <thread>

namespace testing_support {

using Clock = std::chrono::steady_clock;

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    // Bytes that arrive until a silence of gapMs, waiting at most firstMs for the first one.
    Bytes ReadFrame(int firstMs, int gapMs = 8);
    void Write(const Bytes& bytes);
    uint32_t SlaveBaud() const;  // bits per second
    // Like pulling a USB adapter: the slave side sees a hang-up.
    void CloseMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Each request frame (ended by a silence) goes to the responder; its answer is written in pieces.
class ScriptedPeer {
public:
    struct Piece {
        Bytes bytes;
        int delayBeforeMs = 0;
    };
    using Responder = std::function<std::vector<Piece>(const Bytes& request)>;

    ScriptedPeer(PtyPair& pty, Responder responder);
    ~ScriptedPeer();

    struct Received {
        Bytes bytes;
        Clock::time_point at;  // when its first byte was there to read
    };
    std::vector<Received> Requests() const;
    // For each answer, the moment just before its last piece was written.
    std::vector<Clock::time_point> AnswerEnds() const;
    size_t RequestCount() const { return Requests().size(); }

private:
    void Run();

    PtyPair& pty_;
    Responder responder_;
    int stop_ = -1;
    mutable std::mutex mutex_;
    std::vector<Received> requests_;
    std::vector<Clock::time_point> answerEnds_;
    std::thread thread_;
};

// A device that answers each request with answer(its PDU), framed as the request was.
ScriptedPeer::Responder Device(modbus::TTransmissionMode mode,
                               std::function<Bytes(const Bytes&)> answer = DeviceAnswer);

}  // namespace testing_support
