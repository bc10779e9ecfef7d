// io_floor: the unavoidable file work of a bake, without any bake.
//
//   io_floor <reference-dir> <out-dir> [--consume]
//
// For every `*.scenery.jsonl` of <reference-dir> (in name order, which is
// the order of a rectangle bake), writes the same bytes to a new file of
// the same name in <out-dir> in 8192-byte writes (the size of the
// placement file's write buffer), keeps it open, reads it back in 64 KiB
// reads through SHA-256 until a read returns nothing, and writes the
// `.sha256` file beside it: the file work the tool must do per landblock
// whatever its own code costs. The reference bytes
// are loaded in batches outside the timed sections, so only the file work
// is measured. With --consume each reference file (and its .sha256) is
// deleted once loaded, so the two folders together take no more disk than
// one. Prints `key=value` lines (seconds, wall and process CPU).
#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "io_floor: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

double now(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> placement_files(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) die("opendir " + dir);
  std::vector<std::string> names;
  constexpr std::string_view kSuffix = ".scenery.jsonl";
  while (dirent* e = readdir(d)) {
    const std::string_view name = e->d_name;
    if (name.size() > kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix)
      names.emplace_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_whole(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) die("open " + path);
  std::string data;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) die("read " + path);
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  return data;
}

void write_all(int fd, const char* p, std::size_t n, const std::string& path) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w <= 0) die("write " + path);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

class Floor {
 public:
  static constexpr std::size_t kWriteChunk = 8192;

  Floor() : md_(EVP_MD_fetch(nullptr, "SHA256", nullptr)), ctx_(EVP_MD_CTX_new()), buf_(65536) {
    if (md_ == nullptr || ctx_ == nullptr) die("libcrypto SHA-256 set-up");
  }
  ~Floor() {
    EVP_MD_CTX_free(ctx_);
    EVP_MD_free(md_);
  }

  // The file work of one landblock: create, write, read back and hash,
  // write the digest file.
  void landblock(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) die("create " + path);
    for (std::size_t at = 0; at < bytes.size(); at += kWriteChunk)
      write_all(fd, bytes.data() + at, std::min(kWriteChunk, bytes.size() - at), path);

    const int in = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) die("open " + path);
    EVP_DigestInit_ex(ctx_, md_, nullptr);
    for (;;) {
      const ssize_t n = read(in, buf_.data(), buf_.size());
      if (n < 0) die("read " + path);
      if (n == 0) break;
      EVP_DigestUpdate(ctx_, buf_.data(), static_cast<std::size_t>(n));
    }
    close(in);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx_, digest, &len);
    char line[2 * EVP_MAX_MD_SIZE + 1];
    static constexpr char kHex[] = "0123456789abcdef";
    for (unsigned i = 0; i < len; ++i) {
      line[2 * i] = kHex[digest[i] >> 4];
      line[2 * i + 1] = kHex[digest[i] & 0xF];
    }
    line[2 * len] = '\n';

    const std::string digest_path = path + ".sha256";
    const int dfd = open(digest_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (dfd < 0) die("create " + digest_path);
    write_all(dfd, line, 2 * len + 1, digest_path);
    close(dfd);
    close(fd);
  }

 private:
  EVP_MD* md_;
  EVP_MD_CTX* ctx_;
  std::vector<unsigned char> buf_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool consume = argc == 4 && std::string_view(argv[3]) == "--consume";
  if (argc != 3 && !consume) {
    std::fprintf(stderr, "usage: io_floor <reference-dir> <out-dir> [--consume]\n");
    return 2;
  }
  const std::string ref = argv[1];
  const std::string out = argv[2];
  if (mkdir(out.c_str(), 0777) != 0 && errno != EEXIST) die("mkdir " + out);

  const std::vector<std::string> names = placement_files(ref);
  constexpr std::size_t kBatch = 512;  // a few MB of reference bytes at a time
  Floor floor;
  double wall = 0, cpu = 0;
  std::uint64_t bytes = 0;
  std::vector<std::string> batch;
  for (std::size_t start = 0; start < names.size(); start += kBatch) {
    const std::size_t end = std::min(names.size(), start + kBatch);
    batch.clear();
    for (std::size_t i = start; i < end; ++i) {
      const std::string path = ref + "/" + names[i];
      batch.push_back(read_whole(path));
      if (consume && (unlink(path.c_str()) != 0 || unlink((path + ".sha256").c_str()) != 0))
        die("unlink " + path);
    }

    const double w0 = now(CLOCK_MONOTONIC);
    const double c0 = now(CLOCK_PROCESS_CPUTIME_ID);
    for (std::size_t i = start; i < end; ++i) {
      floor.landblock(out + "/" + names[i], batch[i - start]);
      bytes += batch[i - start].size();
    }
    wall += now(CLOCK_MONOTONIC) - w0;
    cpu += now(CLOCK_PROCESS_CPUTIME_ID) - c0;
  }
  std::printf("files=%zu\nbytes=%llu\nwall_s=%.3f\ncpu_s=%.3f\n", names.size(),
              static_cast<unsigned long long>(bytes), wall, cpu);
  return 0;
}
