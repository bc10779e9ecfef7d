// Runs a program as a child process and captures what it prints; plus a
// temporary directory that removes itself. For end-to-end tests.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace strewmill::test_support {

struct ProcessOptions {
  // Variables to set (a value) or remove (nullopt) on top of this process's
  // environment.
  std::map<std::string, std::optional<std::string>> env;
  std::optional<std::filesystem::path> cwd;
  std::chrono::milliseconds timeout{120000};
};

struct ProcessResult {
  int exit_status = -1;  // the exit code, or -1 when the child did not exit normally
  int signal = 0;        // the terminating signal, if any
  bool timed_out = false;
  std::string out;
  std::string err;
};

// Runs argv[0] (a path, not searched in PATH) with stdin from /dev/null.
// A child still running at the timeout is killed and the test fails.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// The built strewmill binary.
std::string strewmill_bin();

// Runs strewmill with `args`. STREWMILL_LOG is removed from the environment
// unless `options` sets it, so the caller's shell does not change results.
ProcessResult run_strewmill(const std::vector<std::string>& args, ProcessOptions options = {});

// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // path() / name
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The whole content of `path`; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// Writes `bytes` to `path`, replacing the file.
void write_file(const std::filesystem::path& path, const std::string& bytes);

}  // namespace strewmill::test_support
