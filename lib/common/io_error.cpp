#include "lib/common/io_error.h"

#include <fmt/format.h>

#include <cstring>

namespace strewmill::common {

std::string os_error_description(int errnum) {
  char buf[256];
  // GNU strerror_r returns a pointer that may or may not be buf.
  const char* s = strerror_r(errnum, buf, sizeof buf);
  return s;
}

std::string IoError::message() const {
  if (errnum == 0) return text;
  return fmt::format("{} (os error {})", os_error_description(errnum), errnum);
}

}  // namespace strewmill::common
