// The tool's one error type: a message plus a chain of causes, and the
// report that the process prints when a run fails.
#pragma once

#include <string>
#include <vector>

#include "lib/common/io_error.h"
#include "lib/common/result.h"

namespace strewmill::app {

class Error {  // a message plus an optional chain of causes, nearest first
 public:
  explicit Error(std::string message);

  // "{description} (os error {n})".
  static Error os(int errnum);
  static Error from_io(const common::IoError& e);

  // A new top message; the current error becomes its cause.
  Error context(std::string message) &&;
  // Appends `cause` (and its own causes) below the deepest cause of this one.
  Error with_cause(Error cause) &&;

  const std::string& message() const { return chain_.front(); }
  // [top, cause0, cause1, ...]
  const std::vector<std::string>& chain() const { return chain_; }

 private:
  std::vector<std::string> chain_;
};

template <class T>
using AppResult = common::Result<T, Error>;

// "Error: {top}\n", then "\nCaused by:\n" and the causes when there are any.
// One cause is indented by four spaces; several are numbered, the index
// right-aligned in five columns, with continuation lines indented by seven.
std::string render_report(const Error& e);

// Writes the report of `e` to standard error (standard output is flushed
// first, so the two keep their order) and returns `status`.
int print_report(const Error& e, int status);

// Runs a program's main body. Errors travel as values; this only stops a
// stray exception (allocation failure, a library throwing) from escaping as
// an abort: it is reported as "internal error: ..." with `failure_status`.
int guarded_main(int argc, char** argv, int (*body)(int, char**), int failure_status);

}  // namespace strewmill::app
