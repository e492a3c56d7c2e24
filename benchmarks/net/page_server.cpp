#include "page_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velunor::benchmarks {

PageServer::PageServer(std::string response, int threads) : response_(std::move(response)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listener_ < 0) {
        return;
    }
    int reuse = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 512) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    for (int i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Serve(); });
    }
}

PageServer::~PageServer() {
    stopping_ = true;
    // Shutting the listener down wakes every thread blocked in accept.
    shutdown(listener_, SHUT_RDWR);
    for (std::thread& thread : threads_) {
        thread.join();
    }
    close(listener_);
}

void PageServer::Serve() {
    while (!stopping_) {
        int connection = accept(listener_, nullptr, nullptr);
        if (connection < 0) {
            continue;
        }
        Answer(connection);
        close(connection);
    }
}

void PageServer::Answer(int connection) const {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t received = recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0) {
            return;
        }
        request.append(buffer, static_cast<size_t>(received));
    }
    size_t sent = 0;
    while (sent < response_.size()) {
        ssize_t written =
            send(connection, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
        if (written <= 0) {
            return;
        }
        sent += static_cast<size_t>(written);
    }
}

} // namespace velunor::benchmarks
