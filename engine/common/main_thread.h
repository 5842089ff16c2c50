// Public engine surface: the check behind the headers' "main thread only".
//
// The engine's main thread is the thread that started the framework: it owns
// the process's timer queue (common/timer_queue.h) and is the only thread the
// pump runs on. Code whose header says it runs on the main thread calls
// expect_main_thread() at its entry points, so a call from a socket thread or
// a host's worker fails at once instead of racing the pump.
//
// May be called from any thread.
#pragma once

namespace Core_Common {

// Raises fatal_error() when a framework is started and the calling thread is
// not its main thread. Before the first start-up and after shutdown (no
// timer queue) every thread passes: objects may be built and torn down by
// tests and hosts without a running engine.
void expect_main_thread();

}  // namespace Core_Common
