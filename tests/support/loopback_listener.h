// A local TCP port that counts the connections made to it: tests that must show a
// conversion never reaches the network point a recording at it and check the count.
// Header only, so test programs that do not link the support library use it too.
#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class LoopbackListener {
public:
    LoopbackListener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (fd_ < 0 || bind(fd_, (sockaddr *)&addr, len) != 0 || listen(fd_, 8) != 0 ||
            getsockname(fd_, (sockaddr *)&addr, &len) != 0)
            throw std::runtime_error("no local port to listen on");
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p = {fd_, POLLIN, 0};
                poll(&p, 1, 50);
                for (int client; (client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                    connections_++;
                    close(client);
                }
                turns_++;
            }
        });
    }
    ~LoopbackListener()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    int port() const { return port_; }
    std::string url(const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
    }
    // Connections made so far: every one that was queued when this was called has
    // been taken by then (the listener's thread has gone round twice since).
    int connections() const
    {
        const long seen = turns_;
        while (turns_ < seen + 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return connections_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::atomic<long> turns_{0};
    std::thread thread_;
};
