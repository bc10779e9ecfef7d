#include "apps/strewmill/emit_bits.h"

namespace strewmill::app {

std::atomic<bool> EMIT_BITS{false};

}  // namespace strewmill::app
