// An I/O failure as the tool reports it: an operating-system error number,
// or one of the tool's own I/O conditions (such as running out of data).
#pragma once

#include <string>

namespace strewmill::common {

struct IoError {
  int errnum = 0;    // OS error number; 0 for the tool's own conditions
  std::string text;  // the condition's text when errnum is 0

  static IoError os(int e) { return IoError{e, {}}; }
  static IoError unexpected_eof() { return IoError{0, "failed to fill whole buffer"}; }
  bool is_unexpected_eof() const { return errnum == 0 && text == "failed to fill whole buffer"; }

  // "No such file or directory (os error 2)", or the condition's text.
  std::string message() const;
};

// The system's description of an error number, without the number.
std::string os_error_description(int errnum);

}  // namespace strewmill::common
