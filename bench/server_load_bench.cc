// Load on the sync server: 64 loopback clients sending no-change update
// requests (the commonest request: a client checking that nothing moved) to
// an in-process server on a SQLite store, one connection per request.
//
// Prints requests per second and latency percentiles, and the same figures
// for a server whose handler only echoes (the cost of the connections
// themselves), measured in the same run; the target is at least 3,000
// requests per second with a 99th percentile under 50 ms on two cores.
//
//   server_load_bench [CLIENTS] [SECONDS] [THREADS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "authenticator.h"
#include "maintenance_watch.h"
#include "password_hash.h"
#include "session_envelope.h"
#include "store_open.h"
#include "store_pool.h"
#include "sync_handler.h"
#include "sync_message.h"
#include "tcp_server.h"
#include "utc_time.h"

namespace {

using namespace Core_Server;
using clock_type = std::chrono::steady_clock;

class echo_handler_t final : public InterfaceRequestHandler {
public:
    void handle(const request_t& request, reply_t& reply) override {
        reply.body = request.body;
        reply.result = "OK";
    }
};

bool round_trip(std::uint16_t port, const std::string& request, std::size_t& reply_size) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(request.size());
    reply_size = 0;
    char buffer[8192];
    while (ok) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply_size += static_cast<std::size_t>(n);
    }
    close(fd);
    return ok && reply_size > REPLY_HEADER_SIZE;
}

struct figures_t {
    double per_second = 0;
    double p50_ms = 0, p99_ms = 0, max_ms = 0;
    long failures = 0;
};

figures_t load(std::uint16_t port, const std::string& request, int clients, double seconds) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<long> failures{0};
    const auto end = clock_type::now() + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    const auto begin = clock_type::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            while (clock_type::now() < end) {
                const auto t0 = clock_type::now();
                std::size_t size = 0;
                if (!round_trip(port, request, size)) ++failures;
                latencies[static_cast<std::size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
            }
        });
    }
    for (auto& t : threads) t.join();
    const double elapsed = std::chrono::duration<double>(clock_type::now() - begin).count();
    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    figures_t f;
    if (all.empty()) return f;
    f.per_second = static_cast<double>(all.size()) / elapsed;
    f.p50_ms = all[all.size() / 2];
    f.p99_ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    f.max_ms = all.back();
    f.failures = failures;
    return f;
}

void print(const char* what, const figures_t& f) {
    std::printf("%-28s %9.0f req/s   p50 %6.2f ms   p99 %6.2f ms   max %7.2f ms   failures %ld\n",
                what, f.per_second, f.p50_ms, f.p99_ms, f.max_ms, f.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const int clients = argc > 1 ? std::atoi(argv[1]) : 64;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 4;

    char pattern[] = "/tmp/zvbench.XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::filesystem::path dir = pattern;
    const std::string url = "sqlite:" + (dir / "bench.db").string();
    int status = 0;
    {
        std::unique_ptr<InterfaceStore> store;
        std::string record;
        account_t account;
        commit_result_t committed;
        // A tree of 1,000 bookmarks as the stored version.
        std::string tree =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><nodeset><node><guid>ROOT</guid>"
            "<type>folder</type><name>r</name><children>";
        for (int i = 0; i < 1000; ++i) {
            tree += "<node><guid>b" + std::to_string(i) + "</guid><type>bookmark</type><name>Page " +
                    std::to_string(i) + "</name><url>http://example.org/" + std::to_string(i) +
                    "</url></node>";
        }
        tree += "</children></node></nodeset>";
        commit_request_t first;
        first.client_type = "bench";
        first.tree = tree;
        first.date = utc_now_text();
        if (!open_store(url, store_options_t{}, store).ok() ||
            !hash_password("bench password", password_hash_params_t{}, record) ||
            !store->add_account("bench", record).ok() ||
            !store->find_account("bench", account).ok()) {
            std::cerr << "server_load_bench: cannot prepare the store at " << url << "\n";
            return 1;
        }
        first.account_id = account.id;
        if (!store->commit(first, committed).ok()) return 1;

        sync_request_t update;
        update.action = sync_action_enum::UPDATE;
        update.user = "bench";
        update.password = "bench password";
        update.peer_id = std::string(40, '0');
        update.baseline = committed.version.version;
        std::string body;
        if (!write_sync_request(update, body)) return 1;
        const std::string request = make_request(1, 0, "", body);

        std::ostringstream sink;
        request_log_t log(sink);
        tcp_server_options_t net;
        net.address = "127.0.0.1";
        net.port = 0;
        net.threads = threads;

        std::printf("server_load_bench: %d clients, %.1f s each run, %d server threads, "
                    "request %zu bytes\n",
                    clients, seconds, threads, request.size());
        figures_t echo_figures, sync_figures;
        {
            echo_handler_t echo;
            tcp_server_t server(net, echo, log);
            std::string error;
            if (!server.start(error)) {
                std::cerr << "server_load_bench: " << error << "\n";
                return 1;
            }
            echo_figures = load(server.port(), request, clients, seconds);
        }
        {
            store_pool_t pool(url, store_options_t{});
            authenticator_t authenticator{authenticator_options_t{}};
            maintenance_watch_t maintenance(pool, std::chrono::seconds(1));
            sync_handler_t handler(sync_handler_options_t{}, pool, authenticator, maintenance,
                                   log);
            tcp_server_t server(net, handler, log);
            std::string error;
            if (!server.start(error)) {
                std::cerr << "server_load_bench: " << error << "\n";
                return 1;
            }
            sync_figures = load(server.port(), request, clients, seconds);
        }
        print("echo handler (baseline)", echo_figures);
        print("no-change update, SQLite", sync_figures);
        std::printf("ratio update/echo throughput: %.2f\n",
                    echo_figures.per_second > 0 ? sync_figures.per_second / echo_figures.per_second
                                                : 0.0);
        const bool met = sync_figures.per_second >= 3000 && sync_figures.p99_ms < 50 &&
                         sync_figures.failures == 0;
        std::printf("target (>= 3000 req/s, p99 < 50 ms, no failures): %s\n",
                    met ? "met" : "NOT met");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
