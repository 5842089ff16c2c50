// Load on the sync server: 64 loopback clients sending no-change update
// requests (the commonest request: a client checking that nothing moved) to
// an in-process server on a SQLite store, one connection per request, in
// clear text and over TLS on the same port, side by side.
//
// Prints requests per second and latency percentiles for: a server whose
// handler only echoes (the cost of the connections themselves), the
// no-change update in clear text, over TLS with a full handshake per
// connection (an ECDSA P-256 certificate made for the run), and over TLS
// resuming the session of the client's previous connection. The target is
// at least 3,000 requests per second with a 99th percentile under 50 ms on
// two cores, with TLS as without.
//
//   server_load_bench [CLIENTS] [SECONDS] [NETWORK_THREADS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
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
#include "tls_testing.h"
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

int connect_to(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool round_trip(std::uint16_t port, const std::string& request, std::size_t& reply_size) {
    const int fd = connect_to(port);
    bool ok = fd >= 0 && send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                             static_cast<ssize_t>(request.size());
    reply_size = 0;
    char buffer[8192];
    while (ok) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply_size += static_cast<std::size_t>(n);
    }
    if (fd >= 0) close(fd);
    return ok && reply_size > REPLY_HEADER_SIZE;
}

// One client's TLS side: its context, and the session it may resume.
struct tls_side_t {
    SSL_CTX* context = nullptr;
    SSL_SESSION* session = nullptr;
    bool resume = false;
    long resumed = 0;  // handshakes that resumed the previous session
    ~tls_side_t() {
        if (session) SSL_SESSION_free(session);
        if (context) SSL_CTX_free(context);
    }
};

bool tls_round_trip(std::uint16_t port, const std::string& request, tls_side_t& side,
                    std::size_t& reply_size) {
    reply_size = 0;
    const int fd = connect_to(port);
    if (fd < 0) return false;
    SSL* ssl = SSL_new(side.context);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    SSL_set1_host(ssl, "localhost");
    if (side.resume && side.session) SSL_set_session(ssl, side.session);
    bool ok =
        SSL_connect(ssl) == 1 && SSL_write(ssl, request.data(), static_cast<int>(request.size())) ==
                                     static_cast<int>(request.size());
    char buffer[8192];
    while (ok) {
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) break;
        reply_size += static_cast<std::size_t>(n);
    }
    if (ok && SSL_session_reused(ssl)) ++side.resumed;
    if (ok && side.resume) {
        if (side.session) SSL_SESSION_free(side.session);
        side.session = SSL_get1_session(ssl);
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    close(fd);
    return ok && reply_size > REPLY_HEADER_SIZE;
}

struct figures_t {
    double per_second = 0;
    double p50_ms = 0, p99_ms = 0, max_ms = 0;
    long failures = 0;
    double server_cpu_ms = 0;  // the server's threads' processor time per request
    double client_cpu_ms = 0;  // the clients' (this process's other threads) per request
    long resumed = 0;          // TLS handshakes that resumed a session
};

// Processor time so far of this whole process, in milliseconds.
double process_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Processor time so far of this process's threads whose names start with
// "zv-" (the server's network and worker threads), in milliseconds.
double server_cpu_ms() {
    double ticks = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        if (stat.compare(open + 1, 3, "zv-") != 0) continue;
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::atof(field.c_str());
            if (i == 15) stime = std::atof(field.c_str());
        }
        ticks += utime + stime;
    }
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// `tls_ca` empty: clear text; otherwise TLS trusting that certificate,
// resuming sessions when `resume`.
figures_t load(std::uint16_t port, const std::string& request, int clients, double seconds,
               const std::string& tls_ca = "", bool resume = false) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<long> failures{0};
    std::atomic<long> resumed{0};
    const double cpu_before = server_cpu_ms();
    const double process_before = process_cpu_ms();
    const auto end = clock_type::now() + std::chrono::duration<double>(seconds);
    std::vector<std::thread> threads;
    const auto begin = clock_type::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            tls_side_t side;
            if (!tls_ca.empty()) {
                side.context = SSL_CTX_new(TLS_client_method());
                SSL_CTX_set_verify(side.context, SSL_VERIFY_PEER, nullptr);
                SSL_CTX_load_verify_locations(side.context, tls_ca.c_str(), nullptr);
                side.resume = resume;
            }
            while (clock_type::now() < end) {
                const auto t0 = clock_type::now();
                std::size_t size = 0;
                const bool ok = tls_ca.empty() ? round_trip(port, request, size)
                                               : tls_round_trip(port, request, side, size);
                if (!ok) ++failures;
                latencies[static_cast<std::size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
            }
            resumed += side.resumed;
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
    const double server_ms = server_cpu_ms() - cpu_before;
    f.server_cpu_ms = server_ms / static_cast<double>(all.size());
    f.client_cpu_ms =
        (process_cpu_ms() - process_before - server_ms) / static_cast<double>(all.size());
    f.resumed = resumed;
    f.p50_ms = all[all.size() / 2];
    f.p99_ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    f.max_ms = all.back();
    f.failures = failures;
    return f;
}

// The clients run on the same cores as the server, so besides what was
// served the figures say what the server alone could serve on this
// machine's cores at its processor time per request.
void print(const char* what, const figures_t& f) {
    const double alone =
        f.server_cpu_ms > 0
            ? 1000.0 * static_cast<double>(std::thread::hardware_concurrency()) / f.server_cpu_ms
            : 0.0;
    std::printf(
        "%-28s %6.0f req/s  p50 %6.2f ms  p99 %6.2f ms  max %7.2f ms  failures %ld  "
        "server %.2f ms CPU/req (alone %5.0f req/s)  clients %.2f ms CPU/req",
        what, f.per_second, f.p50_ms, f.p99_ms, f.max_ms, f.failures, f.server_cpu_ms, alone,
        f.client_cpu_ms);
    if (f.resumed > 0) std::printf("  resumed %ld", f.resumed);
    std::printf("\n");
}

bool met(const figures_t& f) { return f.per_second >= 3000 && f.p99_ms < 50 && f.failures == 0; }

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    const int clients = argc > 1 ? std::atoi(argv[1]) : 64;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 5.0;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 2;

    char pattern[] = "/tmp/zvbench.XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::filesystem::path dir = pattern;
    const std::string url = "sqlite:" + (dir / "bench.db").string();
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
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
            tree += "<node><guid>b" + std::to_string(i) +
                    "</guid><type>bookmark</type><name>Page " + std::to_string(i) +
                    "</name><url>http://example.org/" + std::to_string(i) + "</url></node>";
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
        Core_Server::testing::make_test_certificate(cert, key);

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
        net.max_per_address = clients + 16;
        net.tls_certificate = cert;
        net.tls_key = key;

        std::printf(
            "server_load_bench: %d clients, %.1f s each run, %d network threads, "
            "%d handler threads, request %zu bytes, load average %s\n",
            clients, seconds, threads, net.workers, request.size(), load_average().c_str());
        figures_t echo_figures, clear_figures, tls_figures, resumed_figures;
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
            sync_handler_t handler(sync_handler_options_t{}, pool, authenticator, maintenance, log);
            tcp_server_t server(net, handler, log);
            std::string error;
            if (!server.start(error)) {
                std::cerr << "server_load_bench: " << error << "\n";
                return 1;
            }
            // One request first: the password check it costs (hundreds of
            // milliseconds) is remembered for the runs.
            std::size_t size = 0;
            round_trip(server.port(), request, size);
            clear_figures = load(server.port(), request, clients, seconds);
            tls_figures = load(server.port(), request, clients, seconds, cert);
            resumed_figures = load(server.port(), request, clients, seconds, cert, true);
        }
        print("echo handler (baseline)", echo_figures);
        print("no-change update, clear text", clear_figures);
        print("no-change update, TLS", tls_figures);
        print("  the same, sessions resumed", resumed_figures);
        std::printf(
            "ratio update/echo throughput: %.2f; TLS/clear text: %.2f "
            "(resumed %.2f)\n",
            echo_figures.per_second > 0 ? clear_figures.per_second / echo_figures.per_second : 0.0,
            clear_figures.per_second > 0 ? tls_figures.per_second / clear_figures.per_second : 0.0,
            clear_figures.per_second > 0 ? resumed_figures.per_second / clear_figures.per_second
                                         : 0.0);
        std::printf(
            "target (>= 3000 req/s, p99 < 50 ms, no failures): clear text %s, TLS %s, "
            "TLS resumed %s; load average after %s\n",
            met(clear_figures) ? "met" : "NOT met", met(tls_figures) ? "met" : "NOT met",
            met(resumed_figures) ? "met" : "NOT met", load_average().c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return status;
}
