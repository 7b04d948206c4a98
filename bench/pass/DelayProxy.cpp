#include "bench/pass/DelayProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>

namespace ostrakel::bench {

namespace {

using Clock = std::chrono::steady_clock;

struct TChunk {
    Clock::time_point Due;
    std::vector<char> Bytes; // empty: the sender closed its side
};

// One direction: the reader takes chunks as they come and queues them with
// the time they may leave; the writer sends each at that time, so chunks in
// flight overlap as on a real link.
class TDirection {
public:
    TDirection(int from, int to, std::chrono::microseconds delay, std::function<void()> onChunk)
        : FFrom(from), FTo(to), FDelay(delay), FOnChunk(std::move(onChunk)) {
        FReader = std::thread([this] { Read(); });
        FWriter = std::thread([this] { Write(); });
    }
    ~TDirection() {
        FReader.join();
        FWriter.join();
    }

private:
    void Read() {
        std::vector<char> buffer(256 * 1024);
        for (;;) {
            const ssize_t n = ::read(FFrom, buffer.data(), buffer.size());
            TChunk chunk{Clock::now() + FDelay, {}};
            if (n > 0) {
                FOnChunk();
                chunk.Bytes.assign(buffer.data(), buffer.data() + n);
            }
            {
                std::lock_guard<std::mutex> guard(FLock);
                FQueue.push_back(std::move(chunk));
            }
            FReady.notify_one();
            if (n <= 0) return;
        }
    }
    void Write() {
        for (;;) {
            TChunk chunk;
            {
                std::unique_lock<std::mutex> lock(FLock);
                FReady.wait(lock, [this] { return !FQueue.empty(); });
                chunk = std::move(FQueue.front());
                FQueue.pop_front();
            }
            std::this_thread::sleep_until(chunk.Due);
            if (chunk.Bytes.empty()) {
                ::shutdown(FTo, SHUT_WR);
                return;
            }
            for (size_t sent = 0; sent < chunk.Bytes.size();) {
                const ssize_t n = ::send(FTo, chunk.Bytes.data() + sent, chunk.Bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    // The other side is gone: nothing more goes this way; the reader ends at its EOF.
                    ::shutdown(FFrom, SHUT_RD);
                    return;
                }
                sent += static_cast<size_t>(n);
            }
        }
    }

    int FFrom, FTo;
    std::chrono::microseconds FDelay;
    std::function<void()> FOnChunk;
    std::mutex FLock;
    std::condition_variable FReady;
    std::deque<TChunk> FQueue;
    std::thread FReader, FWriter;
};

void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

} // namespace

struct TDelayProxy::TLink {
    TLink(int client, int server, TDelayProxy& proxy)
        : Client(client), Server(server),
          Up(client, server, proxy.FDelay,
             [this, &proxy] {
                 proxy.FClientChunks++;
                 if (ServerSpoke.exchange(false)) proxy.FRoundTrips++;
             }),
          Down(server, client, proxy.FDelay, [this] { ServerSpoke = true; }) {}
    ~TLink() {
        ::shutdown(Client, SHUT_RDWR);
        ::shutdown(Server, SHUT_RDWR);
    }
    int Client, Server;
    std::atomic<bool> ServerSpoke{true}; // the client's first chunk is a round trip
    TDirection Up, Down;
};

TDelayProxy::TDelayProxy(uint16_t targetPort, std::chrono::microseconds oneWayDelay)
    : FTargetPort(targetPort), FDelay(oneWayDelay) {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    if (FListen < 0) throw std::runtime_error("proxy: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(FListen, 16) != 0 ||
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(FListen);
        throw std::runtime_error("proxy: cannot listen on loopback");
    }
    FPort = ntohs(address.sin_port);
    FAccept = std::thread([this] { AcceptLoop(); });
}

TDelayProxy::~TDelayProxy() {
    FStop = true;
    FAccept.join();
    ::close(FListen);
    std::vector<std::unique_ptr<TLink>> links;
    {
        std::lock_guard<std::mutex> guard(FLinksLock);
        links.swap(FLinks);
    }
    for (auto& link : links) {
        // Both ends closed for reading and writing: every thread of the link ends.
        ::shutdown(link->Client, SHUT_RDWR);
        ::shutdown(link->Server, SHUT_RDWR);
    }
    for (auto& link : links) {
        const int client = link->Client, server = link->Server;
        link.reset();
        ::close(client);
        ::close(server);
    }
}

void TDelayProxy::AcceptLoop() {
    while (!FStop) {
        pollfd p{FListen, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int client = ::accept(FListen, nullptr, nullptr);
        if (client < 0) continue;
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        target.sin_port = htons(FTargetPort);
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
            if (server >= 0) ::close(server);
            ::close(client);
            continue;
        }
        NoDelay(client);
        NoDelay(server);
        std::lock_guard<std::mutex> guard(FLinksLock);
        FLinks.push_back(std::make_unique<TLink>(client, server, *this));
    }
}

} // namespace ostrakel::bench
