// Public engine surface: the wire layer's dispatch settings.
//
// ENABLE_WIRE_SOCKET_THREAD is the framework setting, written by start-up
// (off) before the wire module is initialised; the wire module's initialize
// copies it into wire_direct_dispatch, which the wire layer consults.
//   - clear: every socket event is posted to the message queue and handled
//     on the main thread inside the pump (the only mode start-up accepts);
//   - set: socket events are handled on the socket thread that reported
//     them; start-up refuses to go on in this mode.
// Both are read from any thread.
#pragma once

#include <atomic>

namespace Core_Wire {

inline std::atomic<bool> ENABLE_WIRE_SOCKET_THREAD{false};
inline std::atomic<bool> wire_direct_dispatch{false};

}  // namespace Core_Wire
