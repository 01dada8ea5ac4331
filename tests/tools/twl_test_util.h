// Shared pieces of the twl tests: a scratch directory, running the tool (or
// prhost) as a child process, and partner-like tables written straight
// through the store in one update.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/descriptors.h"
#include "platform/kernel.h"
#include "store/container.h"
#include "store/fatal_error.h"
#include "store/table.h"

namespace pr::twl::testing {

class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/pr_twl_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

inline void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

struct Result {
  int exit = -1;
  std::string out, err;
};

// Runs `program` with `args` in `dir` (environment plus `env`, "NAME=VALUE").
inline Result RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                      const std::vector<std::string>& env = {}) {
  const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    FILE* out = std::freopen(outPath.c_str(), "w", stdout);
    FILE* err = std::freopen(errPath.c_str(), "w", stderr);
    if (!out || !err) _exit(126);
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Result run;
  int status = 0;
  waitpid(pid, &status, 0);
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadAll(outPath);
  run.err = ReadAll(errPath);
  return run;
}

inline std::string TwlPath() { return std::string(PR_BINARY_DIR) + "/twl"; }

inline Result Twl(const std::vector<std::string>& args, const std::string& dir) {
  return RunProgram(TwlPath(), args, dir);
}

// PAR:ID LONG, PAR:NAZIV STRING(20), PAR:IZNOS DECIMAL(7,2), PAR:DATUM DATE;
// key 1 PAR:IdKey on ID, key 2 PAR:NameKey on NAZIV (DUP, NOCASE).
inline store::TableDefinition PartnerDefinition() {
  store::TableDefinition d;
  d.recordLength = 32;
  store::FieldDefinition id;
  id.type = files::TYPE_LONG;
  id.offset = 0;
  id.name = "PAR:ID";
  id.size = 4;
  store::FieldDefinition name;
  name.type = files::TYPE_STRING;
  name.offset = 4;
  name.name = "PAR:NAZIV";
  name.size = 20;
  name.declaredLength = 20;
  store::FieldDefinition amount;
  amount.type = files::TYPE_DECIMAL;
  amount.offset = 24;
  amount.name = "PAR:IZNOS";
  amount.size = 4;
  amount.decimalSize = 7;
  amount.decimalPlaces = 2;
  store::FieldDefinition date;
  date.type = files::TYPE_DATE;
  date.offset = 28;
  date.name = "PAR:DATUM";
  date.size = 4;
  d.fields = {id, name, amount, date};
  store::KeyDefinition idKey;
  idKey.label = "PAR:IdKey";
  idKey.components = {{0, 0}};
  store::KeyDefinition nameKey;
  nameKey.label = "PAR:NameKey";
  nameKey.attributes = static_cast<uint8_t>(store::kKeyDup | store::kKeyNoCase);
  nameKey.components = {{1, 0}};
  d.keys = {idKey, nameKey};
  return d;
}

// The record of partner i: names with Croatian letters (Windows-1250),
// amounts of both signs, dates and some records without one.
inline std::vector<uint8_t> PartnerImage(uint32_t i) {
  std::vector<uint8_t> image(32, 0);
  int32_t id = static_cast<int32_t>(i);
  std::memcpy(image.data(), &id, 4);
  std::string name = "Partner " + std::to_string(i);
  if (i % 3 == 0) name += " \x8A\x9A\xE8";  // Š š č
  if (i % 7 == 0) name = "\"Quoted, " + std::to_string(i) + "\"";
  std::memset(image.data() + 4, ' ', 20);
  std::memcpy(image.data() + 4, name.data(), std::min<size_t>(name.size(), 20));
  // DECIMAL(7,2): sign nibble, then 7 digits.
  uint32_t cents = (i * 7919u) % 10000000u;
  uint8_t* p = image.data() + 24;
  std::string digits = std::to_string(cents);
  digits.insert(0, 7 - digits.size(), '0');
  p[0] = static_cast<uint8_t>((i % 5 == 0 ? 0xF0 : 0x00) | (digits[0] - '0'));
  for (int b = 1; b < 4; ++b) p[b] = static_cast<uint8_t>((digits[2 * b - 1] - '0') << 4 | (digits[2 * b] - '0'));
  int32_t date = i % 11 == 0 ? 0 : static_cast<int32_t>(80000 + i % 5000);
  std::memcpy(image.data() + 28, &date, 4);
  return image;
}

// Creates `path` anew with table `table` of `definition`; `body` then fills
// it (the container and the new table) and everything is written in one
// update.
template <typename F>
void CreateTableFile(const std::string& path, const std::string& table, const store::TableDefinition& definition,
                     F&& body) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  {
    store::Container file(handle, path);
    ASSERT_EQ(file.RefreshHeader(), 0);
    std::unique_ptr<store::Table> t;
    ASSERT_TRUE(store::Table::Create(file, table, definition, false, store::CollationState::Current(), &t).ok());
    body(file, *t);
    t.reset();
    ASSERT_EQ(file.WriteUpdate(), 0u);
  }
  CloseHandle(handle);
}

// Adds each image as a record of `t`.
inline void AddRecords(store::Table& t, const std::vector<std::vector<uint8_t>>& images) {
  for (const auto& image : images) {
    store::RecordNumber record;
    ASSERT_TRUE(t.Add(image.data(), &record).ok());
  }
}

// Writes a file with table `table` holding partners 1..count in one update.
inline void WritePartnerFile(const std::string& path, uint32_t count, const std::string& table = "PARTNERI") {
  CreateTableFile(path, table, PartnerDefinition(), [count](store::Container&, store::Table& t) {
    for (uint32_t i = 1; i <= count; ++i) AddRecords(t, {PartnerImage(i)});
  });
}

// Opens `path` read-write for a change made behind the tool's back; the
// body gets the container and the table and its changes are written.
template <typename F>
void ChangeFile(const std::string& path, const std::string& table, F&& body) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  {
    store::Container file(handle, path);
    ASSERT_EQ(file.RefreshHeader(), 0);
    std::unique_ptr<store::Table> t;
    ASSERT_TRUE(store::Table::Open(file, table, nullptr, store::Table::OpenOptions{}, &t).ok());
    body(file, *t);
    t.reset();
    if (file.HasChanges()) {
      ASSERT_EQ(file.WriteUpdate(), 0u);
    }
  }
  CloseHandle(handle);
}

}  // namespace pr::twl::testing
