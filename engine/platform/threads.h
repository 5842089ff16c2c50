// Public engine surface: facts about and settings of the calling thread.
//
// Priorities are given in the engine's own scale of five levels borrowed from
// the host system the engine was first written for: 1 above normal, 0 normal,
// -1 below normal, -15 idle (and any other value meaning normal). On this
// platform a level is applied as the thread's nice value.
//
// Every function acts on the calling thread only and may be called from any
// thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Core_Platform {

// A 32-bit identifier of the calling thread, unique among the live threads of
// the process (the kernel's thread id).
std::uint32_t current_thread_id();

// Thread priority levels.
inline constexpr int THREAD_LEVEL_ABOVE_NORMAL = 1;
inline constexpr int THREAD_LEVEL_NORMAL = 0;
inline constexpr int THREAD_LEVEL_BELOW_NORMAL = -1;
inline constexpr int THREAD_LEVEL_IDLE = -15;

// The nice value that represents a level: 1 -> -5, 0 -> 0, -1 -> 5,
// -15 -> 19, any other level -> 0.
int nice_for_thread_level(int level);

// Applies a level to the calling thread. Raising the priority above the
// inherited one needs a privilege; without it the thread keeps its priority
// and the call returns false. Returns true when the level is in effect.
bool set_current_thread_level(int level);

// The calling thread's nice value.
int current_thread_nice();

// Names the calling thread (visible to debuggers and the process listing).
// The system keeps at most 15 bytes; a longer name is cut.
void set_current_thread_name(std::string_view name);

// The calling thread's name as the system keeps it (empty on failure).
std::string current_thread_name();

}  // namespace Core_Platform
