// The process-wide switch for writing floats as raw bit patterns (--bits).
// Set once at start-up, before any other work, and never cleared.
#pragma once

#include <atomic>

namespace strewmill::app {

extern std::atomic<bool> EMIT_BITS;

}  // namespace strewmill::app
