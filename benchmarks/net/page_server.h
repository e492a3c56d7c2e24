#pragma once
// A minimal HTTP server for the fetch figures: it answers every request on 127.0.0.1 with the
// same prepared response and closes the connection. Python's threaded server tops out near the
// rates being measured, so the figures would show the server rather than the clients.

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace velunor::benchmarks {

class PageServer {
  public:
    /// Listens on a free port of 127.0.0.1 and answers with `response` (status line, headers and
    /// body) on `threads` threads. Port() is 0 when it could not listen.
    PageServer(std::string response, int threads);
    /// Stops accepting and waits for the threads.
    ~PageServer();
    PageServer(const PageServer&) = delete;
    PageServer& operator=(const PageServer&) = delete;

    int Port() const {
        return port_;
    }

  private:
    void Serve();
    void Answer(int connection) const;

    std::string response_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> threads_;
};

} // namespace velunor::benchmarks
