// A TCP proxy on loopback that holds every chunk it forwards for a fixed time
// in each direction, as a network link with that one-way delay would, and
// counts the client's round trips: each time the client speaks after the
// server has answered (or first) is one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ostrakel::bench {

class TDelayProxy {
public:
    // Listens on an ephemeral loopback port and forwards to 127.0.0.1:targetPort.
    TDelayProxy(uint16_t targetPort, std::chrono::microseconds oneWayDelay);
    ~TDelayProxy();
    TDelayProxy(const TDelayProxy&) = delete;
    TDelayProxy& operator=(const TDelayProxy&) = delete;

    uint16_t Port() const { return FPort; }
    // Round trips and client chunks since the last reset, over every connection.
    uint64_t RoundTrips() const { return FRoundTrips.load(); }
    uint64_t ClientChunks() const { return FClientChunks.load(); }
    void ResetCounts() {
        FRoundTrips = 0;
        FClientChunks = 0;
    }

    struct TLink; // one client connection: two directions, a reader and a writer each

private:
    void AcceptLoop();

    uint16_t FTargetPort;
    std::chrono::microseconds FDelay;
    int FListen = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<uint64_t> FRoundTrips{0}, FClientChunks{0};
    std::mutex FLinksLock;
    std::vector<std::unique_ptr<TLink>> FLinks;
    std::thread FAccept;
};

} // namespace ostrakel::bench
