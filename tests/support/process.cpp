#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace strewmill::test_support {

namespace {

[[noreturn]] void throw_errno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

std::vector<std::string> merged_environment(const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (changes.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : changes) {
    if (value) env.push_back(name + "=" + *value);
  }
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv_in, const ProcessOptions& options) {
  if (argv_in.empty()) throw std::invalid_argument("run_process: empty argv");
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<std::string> argv_strings = argv_in;
  std::vector<std::string> env_strings = merged_environment(options.env);
  std::vector<char*> argv = c_strings(argv_strings);
  std::vector<char*> envp = c_strings(env_strings);
  const std::string cwd = options.cwd ? options.cwd->string() : std::string();

  int out_pipe[2], err_pipe[2], exec_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) throw_errno("pipe2");
  if (pipe2(err_pipe, O_CLOEXEC) != 0) throw_errno("pipe2");
  if (pipe2(exec_pipe, O_CLOEXEC) != 0) throw_errno("pipe2");

  const pid_t pid = fork();
  if (pid < 0) throw_errno("fork");
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    int err = 0;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      err = errno;
    } else {
      execve(argv[0], argv.data(), envp.data());
      err = errno;
    }
    ssize_t ignored = write(exec_pipe[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  close(exec_pipe[1]);

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    const int ready = poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw_errno("poll");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw_errno("waitpid");
  }
  int exec_errno = 0;
  const ssize_t got = read(exec_pipe[0], &exec_errno, sizeof exec_errno);
  close(exec_pipe[0]);
  if (got == static_cast<ssize_t>(sizeof exec_errno)) {
    ADD_FAILURE() << "cannot start " << argv_in[0] << ": " << std::strerror(exec_errno);
  }

  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  if (result.timed_out) {
    ADD_FAILURE() << argv_in[0] << " did not finish within " << options.timeout.count() << " ms and was killed";
  }
  return result;
}

std::string strewmill_bin() { return STREWMILL_BIN; }

ProcessResult run_strewmill(const std::vector<std::string>& args, ProcessOptions options) {
  std::vector<std::string> argv{strewmill_bin()};
  argv.insert(argv.end(), args.begin(), args.end());
  options.env.try_emplace("STREWMILL_LOG", std::nullopt);
  return run_process(argv, options);
}

TempDir::TempDir() {
  std::string templ = "/tmp/strewmill-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) throw_errno("mkdtemp");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only entries behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace strewmill::test_support
