// Internal to the server: "zorvane-server serve", the sync server itself.
//
//   zorvane-server [--store URL] serve [--listen ADDR:PORT] [--store URL]
//       [--tls-cert FILE --tls-key FILE [--require-tls]] [--threads N] ...
//       (SERVE_HELP in serve_command.cc lists every option)
//
// Opens the store (bringing its schema up to date), listens, logs one line
// per request on `log`, and serves until SIGINT or SIGTERM; SIGHUP reloads
// the TLS certificate and key.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "store_open.h"

namespace Core_Server {

// Runs the serve command with `args` (the arguments after "serve");
// `store_url` and `options` come from the options before it. Returns the
// exit status (operator_command.h). Must be called on the main thread,
// before any other thread exists: it blocks SIGINT, SIGTERM and SIGHUP for every
// thread it starts and waits for them itself.
int run_serve_command(std::string store_url, const store_options_t& options,
                      const std::vector<std::string>& args, std::ostream& out, std::ostream& log);

}  // namespace Core_Server
