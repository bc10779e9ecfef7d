#include "apps/strewmill/error.h"

#include <fmt/format.h>

#include <cstdio>
#include <exception>
#include <string_view>
#include <utility>

namespace strewmill::app {

Error::Error(std::string message) { chain_.push_back(std::move(message)); }

Error Error::os(int errnum) { return Error(common::IoError::os(errnum).message()); }

Error Error::from_io(const common::IoError& e) { return Error(e.message()); }

Error Error::context(std::string message) && {
  chain_.insert(chain_.begin(), std::move(message));
  return std::move(*this);
}

Error Error::with_cause(Error cause) && {
  chain_.insert(chain_.end(), std::make_move_iterator(cause.chain_.begin()),
                std::make_move_iterator(cause.chain_.end()));
  return std::move(*this);
}

namespace {

// Appends `text` with `first` before its first line and `rest` before every
// following one.
void append_indented(std::string& out, std::string_view text, std::string_view first,
                     std::string_view rest) {
  out += first;
  std::size_t start = 0;
  while (true) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      out += text.substr(start);
      break;
    }
    out += text.substr(start, nl + 1 - start);
    out += rest;
    start = nl + 1;
  }
  out += '\n';
}

}  // namespace

std::string render_report(const Error& e) {
  const auto& chain = e.chain();
  std::string out = "Error: ";
  out += chain.front();
  out += '\n';
  if (chain.size() == 1) return out;
  out += "\nCaused by:\n";
  if (chain.size() == 2) {
    append_indented(out, chain[1], "    ", "    ");
    return out;
  }
  for (std::size_t i = 1; i < chain.size(); ++i) {
    append_indented(out, chain[i], fmt::format("{:>5}: ", i - 1), "       ");
  }
  return out;
}

int print_report(const Error& e, int status) {
  const std::string text = render_report(e);
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  return status;
}

int guarded_main(int argc, char** argv, int (*body)(int, char**), int failure_status) {
  try {
    return body(argc, argv);
  } catch (const std::exception& e) {
    try {
      return print_report(Error(fmt::format("internal error: {}", e.what())), failure_status);
    } catch (...) {
    }
  } catch (...) {
  }
  std::fputs("Error: internal error\n", stderr);
  return failure_status;
}

}  // namespace strewmill::app
