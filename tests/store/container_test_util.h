// Shared pieces of the container tests: a scratch directory, files opened
// through the platform layer, and the driver error box turned into an
// exception.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/fatal_error.h"

namespace pr::store::testing {

inline std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

// A key of 4 big-endian bytes, so that numeric order is key order.
inline std::vector<uint8_t> BigEndianKey(uint32_t n) {
  return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
          static_cast<uint8_t>(n)};
}

class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/pr_container_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class FileHandle {
 public:
  explicit FileHandle(const std::string& path, bool create = false) {
    handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          create ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Installs the throwing handler for the life of a test.
class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetFatalHandler(ThrowingFatalHandler); }
  void TearDown() override {
    SetFatalHandler(previous_);
    ResetPlatformFileSyscalls();
  }
  ScratchDir dir_;

 private:
  FatalHandler previous_ = nullptr;
};

// The driver error number raised by f, or 0 when none was.
template <typename F>
int DriverErrorOf(F&& f) {
  try {
    f();
  } catch (const DriverError& e) {
    return e.number();
  }
  return 0;
}

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
  }
  return bytes;
}

inline void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace pr::store::testing
