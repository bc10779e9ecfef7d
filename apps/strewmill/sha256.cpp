#include "apps/strewmill/sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>

#include "apps/strewmill/file_io.h"

namespace strewmill::app {

namespace {

// Failures inside libcrypto itself; none of them depend on the input.
Error digest_failure(const char* step) {
  return Error(std::string("SHA-256 ") + step + " failed in libcrypto");
}

}  // namespace

void Sha256Hasher::FreeMd::operator()(evp_md_st* md) const { EVP_MD_free(md); }
void Sha256Hasher::FreeCtx::operator()(evp_md_ctx_st* ctx) const { EVP_MD_CTX_free(ctx); }

AppResult<Sha256Hasher> Sha256Hasher::create() {
  Sha256Hasher h;
  h.md_.reset(EVP_MD_fetch(nullptr, "SHA256", nullptr));
  if (!h.md_) return common::fail(digest_failure("fetch"));
  h.ctx_.reset(EVP_MD_CTX_new());
  if (!h.ctx_) return common::fail(digest_failure("context allocation"));
  h.buf_.resize(kChunk);
  return h;
}

AppResult<std::string> Sha256Hasher::digest_file(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    return common::fail(Error::os(errno).context("open for hash " + display_path(path)));
  }
  if (EVP_DigestInit_ex(ctx_.get(), md_.get(), nullptr) != 1) {
    return common::fail(digest_failure("init"));
  }
  while (true) {
    ssize_t n = ::read(fd.get(), buf_.data(), buf_.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return common::fail(Error::os(errno));
    }
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx_.get(), buf_.data(), static_cast<std::size_t>(n)) != 1) {
      return common::fail(digest_failure("update"));
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx_.get(), digest, &len) != 1) return common::fail(digest_failure("final"));
  return hex_lower(digest, len);
}

AppResult<std::string> sha256_file(const std::filesystem::path& path) {
  TRY_ASSIGN(Sha256Hasher hasher, Sha256Hasher::create());
  return hasher.digest_file(path);
}

std::string hex_lower(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(n * 2, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace strewmill::app
