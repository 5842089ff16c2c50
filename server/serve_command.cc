#include "serve_command.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <ostream>
#include <string>
#include <thread>

#include "authenticator.h"
#include "common/size_limits.h"
#include "maintenance_watch.h"
#include "operator_command.h"
#include "postgres_store.h"
#include "programs/command_line.h"
#include "request_log.h"
#include "store_pool.h"
#include "sync_handler.h"
#include "tcp_server.h"

namespace Core_Server {
namespace {

// The limits in the help are the protocol's (common/size_limits.h).
const std::string SERVE_HELP =
    "Usage: zorvane-server [--store URL] serve [OPTIONS]\n"
    "\n"
    "Serve bookmark syncs until SIGINT or SIGTERM. One line per request goes to\n"
    "standard error: time, peer, user, action, result, bytes in and out,\n"
    "milliseconds, and \"tls\" for a connection over TLS. SIGHUP reads the TLS\n"
    "certificate and key again.\n"
    "\n"
    "Options:\n"
    "  --listen ADDR:PORT      address to listen on (default 0.0.0.0:8080;\n"
    "                          [::1]:8080 for IPv6; port 0 picks a free port)\n"
    "  --store URL             as before the command (see zorvane-server --help)\n"
    "  --tls-cert FILE         PEM certificate chain, the server's certificate first:\n"
    "                          serve TLS on the same port as clear text\n"
    "  --tls-key FILE          PEM private key of that certificate (keep it 0600)\n"
    "  --require-tls           close clear-text connections on arrival\n"
    "  --threads N             threads handling requests (default 8, or twice the\n"
    "                          password checks and 4 more when that is larger)\n"
    "  --network-threads N     threads reading and writing connections (default 2)\n"
    "  --queue N               requests waiting for a handling thread; more are\n"
    "                          answered BUSY (default 64)\n"
    "  --password-checks N     password checks at once, each 32 MiB and a few\n"
    "                          hundred milliseconds; as many again may wait, more\n"
    "                          are answered BUSY (default: the processors)\n"
    "  --max-request BYTES     largest request accepted on the wire, envelope\n"
    "                          included (default and most " +
    std::to_string(Core_Common::max_request_bytes) +
    ":\n"
    "                          the largest tree a client sends, packed)\n"
    "  --max-tree BYTES        largest bookmark tree document stored; larger\n"
    "                          commits are answered POLICY (default and most\n"
    "                          " +
    std::to_string(Core_Common::max_tree_bytes) +
    ": the largest a sync message carries)\n"
    "  --max-buffered BYTES    request and reply bytes all connections may hold;\n"
    "                          requests beyond are answered BUSY (default 268435456)\n"
    "  --max-connections N     connections served at once; above it requests are\n"
    "                          answered BUSY, above twice it refused (default 512)\n"
    "  --max-per-address N     connections at once from one address, an IPv6\n"
    "                          address counting by its /64 (default 64)\n"
    "  --header-timeout SECONDS\n"
    "                          time a client has to send its request's header,\n"
    "                          TLS handshake included (default 10)\n"
    "  --timeout SECONDS       time a client has to send its request, and to take\n"
    "                          the reply (default 30)\n"
    "  -h, --help              show this help\n"
    "\n"
    "Maintenance mode (zorvane-server maintenance on|off) takes effect within a\n"
    "second in every server on the store.\n";

template <class T>
bool parse_number(const std::string& text, T& value, T minimum) {
    T parsed{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (ec != std::errc() || end != text.data() + text.size() || parsed < minimum) return false;
    value = parsed;
    return true;
}

bool parse_listen(const std::string& text, std::string& address, std::uint16_t& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    unsigned value = 0;
    if (!parse_number(text.substr(colon + 1), value, 0u) || value > 65535) return false;
    address = host;
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

int run_serve_command(std::string store_url, const store_options_t& store_options,
                      const std::vector<std::string>& args, std::ostream& out, std::ostream& log) {
    auto usage = [&](const std::string& message) {
        log << "zorvane-server: serve: " << message << " (see zorvane-server serve --help)\n";
        return EXIT_USAGE;
    };
    tcp_server_options_t net;
    sync_handler_options_t sync;
    authenticator_options_t auth;
    auth.max_checks = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    bool workers_given = false;
    int timeout_seconds = 30;
    int header_timeout_seconds = 10;
    const Zorvane_Programs::option_set_t options = {
        {"--listen", "--store", "--tls-cert", "--tls-key", "--threads", "--network-threads",
         "--queue", "--password-checks", "--max-request", "--max-buffered", "--max-connections",
         "--max-per-address", "--max-tree", "--header-timeout", "--timeout"},
        {"--require-tls"},
    };
    Zorvane_Programs::command_line_t line;
    Zorvane_Programs::command_line_error_t fault;
    if (!Zorvane_Programs::parse_command_line(args, options, line, fault)) {
        return usage(fault.text());
    }
    if (line.help) {
        out << SERVE_HELP;
        return EXIT_OK;
    }
    if (!line.operands.empty()) return usage("unexpected argument \"" + line.operands[0] + "\"");
    for (const auto& [a, v] : line.options) {
        if (a == "--require-tls") {
            net.require_tls = true;
            continue;
        }
        bool ok = true;
        if (a == "--listen") {
            ok = parse_listen(v, net.address, net.port);
        } else if (a == "--store") {
            store_url = v;
            if (!is_store_url(v)) {
                return usage(a + ": \"" + redact_postgres_url(v) + "\" is not a valid value");
            }
        } else if (a == "--tls-cert") {
            net.tls_certificate = v;
        } else if (a == "--tls-key") {
            net.tls_key = v;
        } else if (a == "--threads") {
            ok = parse_number(v, net.workers, 1) && net.workers <= 1024;
            workers_given = true;
        } else if (a == "--network-threads") {
            ok = parse_number(v, net.threads, 1) && net.threads <= 64;
        } else if (a == "--queue") {
            ok = parse_number(v, net.queue, std::size_t{0});
        } else if (a == "--password-checks") {
            ok = parse_number(v, auth.max_checks, 1) && auth.max_checks <= 256;
        } else if (a == "--max-request") {
            ok = parse_number(v, net.max_request, std::size_t{64}) &&
                 net.max_request <= Core_Common::max_request_bytes;
        } else if (a == "--max-buffered") {
            ok = parse_number(v, net.max_buffered, std::size_t{64 * 1024});
        } else if (a == "--max-connections") {
            ok = parse_number(v, net.max_connections, 1);
        } else if (a == "--max-per-address") {
            ok = parse_number(v, net.max_per_address, 1);
        } else if (a == "--max-tree") {
            ok = parse_number(v, sync.limits.max_tree_bytes, std::size_t{1}) &&
                 sync.limits.max_tree_bytes <= Core_Common::max_tree_bytes;
        } else if (a == "--header-timeout") {
            ok = parse_number(v, header_timeout_seconds, 1);
        } else if (a == "--timeout") {
            ok = parse_number(v, timeout_seconds, 1);
        }
        if (!ok) return usage(a + ": \"" + v + "\" is not a valid value");
    }
    net.timeout = std::chrono::seconds(timeout_seconds);
    net.header_timeout = std::chrono::seconds(std::min(header_timeout_seconds, timeout_seconds));
    auth.max_waiting_checks = auth.max_checks;
    // Requests waiting for a password check hold their threads: leave
    // threads for the requests a remembered password lets through.
    if (!workers_given) net.workers = std::max(net.workers, 2 * auth.max_checks + 4);

    // Opening once checks the configuration and migrates before listening.
    {
        std::unique_ptr<InterfaceStore> store;
        const auto status = open_store(store_url, store_options, store);
        if (!status.ok()) {
            log << "zorvane-server: serve: " << status.message << "\n";
            return EXIT_USAGE;
        }
    }

    // Every thread started from here on inherits the blocked signals, so
    // only sigwait below sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    // A log reader that goes away must not take the server with it.
    signal(SIGPIPE, SIG_IGN);

    request_log_t request_log(log);
    store_pool_t stores(store_url, store_options);
    authenticator_t authenticator{auth};
    maintenance_watch_t maintenance(stores, std::chrono::seconds(1));
    sync_handler_t handler(sync, stores, authenticator, maintenance, request_log);
    tcp_server_t server(net, handler, request_log);
    std::string error;
    if (!server.start(error)) {
        log << "zorvane-server: serve: " << error << "\n";
        return EXIT_USAGE;
    }
    std::unique_ptr<InterfaceStore> probe;
    const std::string described = open_store(store_url, store_options, probe).ok()
                                      ? probe->describe()
                                      : redact_postgres_url(store_url);
    probe.reset();
    const bool v6 = net.address.find(':') != std::string::npos;
    const char* transport = net.tls_certificate.empty() ? ""
                            : net.require_tls           ? " (TLS only)"
                                                        : " (TLS and clear text)";
    request_log.note("zorvane-server: serving on " + (v6 ? "[" + net.address + "]" : net.address) +
                     ":" + std::to_string(server.port()) + transport + " with store " + described);
    int signal_number = 0;
    for (;;) {
        sigwait(&stop_signals, &signal_number);
        if (signal_number != SIGHUP) break;
        if (server.reload_tls(error)) {
            request_log.note(net.tls_certificate.empty()
                                 ? "zorvane-server: SIGHUP: no TLS to reload"
                                 : "zorvane-server: SIGHUP: reloaded the TLS certificate and key");
        } else {
            request_log.note("zorvane-server: SIGHUP: kept the TLS certificate in use: " + error);
        }
    }
    request_log.note(std::string("zorvane-server: stopping on ") +
                     (signal_number == SIGINT ? "SIGINT" : "SIGTERM"));
    server.stop();
    return EXIT_OK;
}

}  // namespace Core_Server
