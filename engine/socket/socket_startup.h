// Public engine surface: the outcome of the socket start-up.
//
// The socket module's initialize starts the system's sockets (version 2.2 is
// requested) and keeps the outcome as a status text that the crash report
// prints: " v2.2" on success, " WSAStartup failed" when the start-up itself
// failed, or the version obtained (" v1.0", " v1.1", " v2.0", " v2.1", any
// other " vx.x") when it is not 2.2. Before the first start-up the text is
// "n/a".
//
// Thread rule: the status text may be read from any thread; it is written
// only by the socket module's initialize on the main thread.
#pragma once

#include <string>

#include "platform/socket_errors.h"

namespace Core_Socket {

// The start-up status text.
std::u16string winsock_status_text();

// Starts sockets through the platform and records the outcome.
// Throws the integer 0 when sockets are unusable (see apply_socket_startup).
void socket_startup();

// Records the outcome of a start-up that `started` (or failed to) with the
// `obtained` version: sets the status text; on failure, or on a version other
// than 2.2, ends the socket use again (for a started one), sets the last
// socket error to 10092 (for a wrong version) and throws the integer 0.
void apply_socket_startup(bool started, Core_Platform::socket_version_t obtained);

}  // namespace Core_Socket
