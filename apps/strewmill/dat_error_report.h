// Archive-layer errors as tool errors.
#pragma once

#include "apps/strewmill/error.h"
#include "lib/dat/dat_error.h"

namespace strewmill::app {

// The archive error's message on top, its underlying cause (if any) below.
Error from_dat_error(const dat::DatError& e);

}  // namespace strewmill::app
