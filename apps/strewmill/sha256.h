// Streamed SHA-256 of a file, as 64 lower-case hexadecimal characters.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "apps/strewmill/error.h"

// OpenSSL's opaque types, so callers need not include its headers.
struct evp_md_st;
struct evp_md_ctx_st;

namespace strewmill::app {

// Holds the fetched digest, one digest context and one 65536-byte read
// buffer, so a run that hashes many files sets them up once.
class Sha256Hasher {
 public:
  static constexpr std::size_t kChunk = 65536;

  static AppResult<Sha256Hasher> create();

  // Errors: "open for hash {path}" with the OS error as cause when the file
  // cannot be opened; a failed read is the OS error alone.
  AppResult<std::string> digest_file(const std::filesystem::path& path);

 private:
  struct FreeMd {
    void operator()(evp_md_st* md) const;
  };
  struct FreeCtx {
    void operator()(evp_md_ctx_st* ctx) const;
  };

  Sha256Hasher() = default;

  std::unique_ptr<evp_md_st, FreeMd> md_;
  std::unique_ptr<evp_md_ctx_st, FreeCtx> ctx_;
  std::vector<std::uint8_t> buf_;
};

// One-off convenience over a fresh Sha256Hasher.
AppResult<std::string> sha256_file(const std::filesystem::path& path);

// 64 lower-case hexadecimal characters for a 32-byte digest.
std::string hex_lower(const std::uint8_t* bytes, std::size_t n);

}  // namespace strewmill::app
