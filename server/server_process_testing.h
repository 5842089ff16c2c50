// Test support (test programs only): a zorvane-server process serving on a
// free loopback port, and a blocking loopback client.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Core_Server::testing {

// A blocking client of 127.0.0.1:port; a receive gives up after
// `receive_timeout_seconds` of silence. With `source` (another loopback
// address, such as 127.0.0.2) the connection comes from that address.
class client_t {
public:
    explicit client_t(std::uint16_t port, int receive_timeout_seconds = 20,
                      const char* source = nullptr) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{receive_timeout_seconds, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (source != nullptr) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            inet_pton(AF_INET, source, &from.sin_addr);
            bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    client_t(const client_t&) = delete;
    client_t& operator=(const client_t&) = delete;
    ~client_t() { close(m_fd); }
    bool connected() const { return m_connected; }
    bool send_all(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Everything until the server closes (or the receive time-out passes).
    std::string receive_all() {
        std::string out;
        char buffer[16384];
        for (;;) {
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

// zorvane-server [--store URL] serve --listen 127.0.0.1:0 EXTRA..., with its
// standard error collected; started by the constructor, which waits for the
// "serving on" line. The destructor stops it with SIGTERM.
class server_process_t {
public:
    server_process_t(const std::string& store_url, const std::vector<std::string>& extra = {}) {
        int err[2];
        if (pipe(err) != 0) throw std::runtime_error("pipe");
        std::vector<std::string> args = {ZV_SERVER_BINARY, "--store",  store_url,
                                         "serve",          "--listen", "127.0.0.1:0"};
        args.insert(args.end(), extra.begin(), extra.end());
        m_pid = fork();
        if (m_pid < 0) throw std::runtime_error("fork");
        if (m_pid == 0) {
            dup2(err[1], 2);
            close(err[0]);
            close(err[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(err[1]);
        m_reader = std::thread([this, fd = err[0]] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                std::lock_guard<std::mutex> lock(m_mutex);
                m_log.append(buffer, static_cast<std::size_t>(n));
                m_changed.notify_all();
            }
            close(fd);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closed = true;
            m_changed.notify_all();
        });
        const std::string marker = "serving on 127.0.0.1:";
        std::string text;
        if (!wait_for_log(marker, std::chrono::seconds(120), &text)) {
            stop();
            throw std::runtime_error("the server did not start: " + text);
        }
        const auto at = text.find(marker) + marker.size();
        m_port = static_cast<std::uint16_t>(std::stoi(text.substr(at)));
    }
    server_process_t(const server_process_t&) = delete;
    server_process_t& operator=(const server_process_t&) = delete;
    ~server_process_t() { stop(); }

    std::uint16_t port() const { return m_port; }
    // The server's process identifier (-1 once stopped).
    pid_t pid() const { return m_pid; }
    // The process's peak resident memory so far ("VmHWM"), or its resident
    // memory now ("VmRSS"), in KiB; -1 when it cannot be read.
    long memory_kib(const char* field = "VmHWM") const {
        FILE* f = std::fopen(("/proc/" + std::to_string(m_pid) + "/status").c_str(), "r");
        if (!f) return -1;
        char line[256];
        long value = -1;
        const std::string prefix = std::string(field) + ":";
        while (std::fgets(line, sizeof line, f)) {
            if (std::string(line).rfind(prefix, 0) == 0) value = std::atol(line + prefix.size());
        }
        std::fclose(f);
        return value;
    }

    // Waits until the log contains `text`; stores the log in `*log`.
    bool wait_for_log(const std::string& text, std::chrono::milliseconds limit,
                      std::string* log = nullptr) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool found = m_changed.wait_for(lock, limit, [&] {
            return m_log.find(text) != std::string::npos || m_closed;
        }) && m_log.find(text) != std::string::npos;
        if (log) *log = m_log;
        return found;
    }
    std::string log() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }

    // Ends the server with `signal_number` and returns its exit status (or
    // 128 + signal).
    int stop(int signal_number = SIGTERM) {
        if (m_pid > 0) {
            kill(m_pid, signal_number);
            int status = 0;
            // A server that does not stop within a minute is killed.
            for (int i = 0; i < 600 && waitpid(m_pid, &status, WNOHANG) == 0; ++i) {
                if (i == 599) {
                    kill(m_pid, SIGKILL);
                    waitpid(m_pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            m_pid = -1;
        }
        if (m_reader.joinable()) m_reader.join();
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
    std::uint16_t m_port = 0;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_log;
    bool m_closed = false;
};

}  // namespace Core_Server::testing
