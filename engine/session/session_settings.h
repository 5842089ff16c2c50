// Public engine surface: the session client's process-wide setting.
//
// Start-up (startup/framework.h) writes it on the main thread before any
// session starts; sessions read it when they start. Tests and hosts lower it
// through start_up_settings() before start-up.
#pragma once

#include <atomic>
#include <cstdint>

namespace Core_SOAPClient {

// The whole-reply deadline in seconds: a session that has no whole reply
// this long after it started (connecting included) ends as failed and closes
// its connection, however the bytes trickle in. 0: no deadline.
inline std::atomic<std::int32_t> session_reply_timeout_seconds{300};

}  // namespace Core_SOAPClient
