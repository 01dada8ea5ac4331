// Shared pieces of the container tests: a scratch directory, files opened
// through the platform layer, and the driver error box turned into an
// exception.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
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

// The header block at offset 0 of a file on disk.
inline FileHeader HeaderOf(const std::string& path) {
  auto bytes = ReadWholeFile(path);
  FileHeader h;
  EXPECT_GE(bytes.size(), 512u);
  if (bytes.size() >= 512) {
    EXPECT_TRUE(h.Parse(bytes.data()));
  }
  return h;
}

// Every key and its data, walked in key order.
using State = std::map<std::vector<uint8_t>, std::vector<uint8_t>>;
inline State ReadState(Container& c) {
  State state;
  Cursor cursor(c);
  for (bool ok = cursor.First(); ok; ok = cursor.Next())
    state.emplace(std::vector<uint8_t>(cursor.key().begin(), cursor.key().end()),
                  std::vector<uint8_t>(cursor.data().begin(), cursor.data().end()));
  return state;
}

// A new file of `count` records, "first state" each, in one update.
inline void WriteBase(const std::string& path, uint32_t count) {
  FileHandle f(path, true);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  for (uint32_t i = 0; i < count; ++i) c.Insert(BigEndianKey(i), Bytes("first state"));
  ASSERT_EQ(c.WriteUpdate(), 0u);
}

// A writer that dies between the phases: its complete pending area stays.
inline void WriteUpToPendingArea(const std::string& path, uint32_t first, uint32_t count) {
  FileHandle f(path);
  Container c(f.get(), path);
  ASSERT_EQ(c.RefreshHeader(), 0);
  for (uint32_t i = first; i < first + count; ++i) c.Put(BigEndianKey(i), Bytes("second state"));
  ASSERT_EQ(c.WriteUpdatePhaseOne(), 0u);
}

}  // namespace pr::store::testing
