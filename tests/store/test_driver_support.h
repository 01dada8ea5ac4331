// A partner-like file declaration for the driver tests: ID LONG at 0, NAME
// STRING(20) at 4, AMOUNT DECIMAL(7,2) at 24; key 1 on ID (unique), key 2 on
// NAME (DUP).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "files/descriptors.h"
#include "files/errors.h"
#include "files/runtime_state.h"
#include "store/driver.h"

namespace pr::store::testing {

inline std::string MakeTempDir() {
  char pattern[] = "/tmp/pr_driver_XXXXXX";
  char* dir = mkdtemp(pattern);
  return dir ? dir : "/tmp";
}

struct PartnerFile {
  static constexpr uint32_t kLength = 28;
  explicit PartnerFile(std::string path, uint8_t attributes = files::ATTR_CREATE, uint32_t decimalPlaces = 2)
      : name(std::move(path)) {
    fields[0] = {};
    fields[0].place = 0;
    fields[0].size = 4;
    fields[0].type = files::TYPE_LONG;
    fields[0].label = "PAR:ID";
    fields[1] = {};
    fields[1].place = 4;
    fields[1].size = 20;
    fields[1].type = files::TYPE_STRING;
    fields[1].label = "PAR:NAZIV";
    fields[2] = {};
    fields[2].place = 24;
    fields[2].size = 4;
    fields[2].places = decimalPlaces;
    fields[2].type = files::TYPE_DECIMAL;
    fields[2].label = "PAR:IZNOS";
    keys[0] = {};
    keys[0].label = "PAR:IdKey";
    keys[0].componentCount = 1;
    keys[0].components = idComponents;
    keys[0].file = &fd;
    keys[1] = {};
    keys[1].label = "PAR:NameKey";
    keys[1].flags = files::KEY_DUP;
    keys[1].componentCount = 1;
    keys[1].components = nameComponents;
    keys[1].file = &fd;
    fd.label = "PARTNERI";
    fd.record = record;
    fd.recordLength = kLength;
    fd.declaration.name = name;
    fd.declaration.attributes = attributes;
    fd.declaration.keyCount = 2;
    fd.declaration.fields = fields;
    fd.declaration.fieldCount = 3;
    fd.keys = keys;
    fd.entry = &TarnwellEntry;
    std::memset(record, 0, sizeof record);
  }
  ~PartnerFile() { TarnwellEntry(files::OP_DESTROY, &fd, nullptr); }

  // Runs an operation; returns the error code it left.
  int Run(int32_t op, intptr_t a0 = 0, intptr_t a1 = 0) {
    intptr_t args[2] = {a0, a1};
    lastResult = TarnwellEntry(op, &fd, args);
    return files::ErrorCode();
  }
  int Open(uint32_t mode = 0x42) { return Run(files::OP_OPEN, mode); }
  int Close() { return Run(files::OP_CLOSE); }
  void Set(int32_t id, const std::string& text) {
    std::memcpy(record, &id, 4);
    std::memset(record + 4, ' ', 20);
    std::memcpy(record + 4, text.data(), std::min<size_t>(text.size(), 20));
  }
  int32_t Id() const {
    int32_t id;
    std::memcpy(&id, record, 4);
    return id;
  }
  std::string Name() const {
    std::string text(reinterpret_cast<const char*>(record) + 4, 20);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  int Add(int32_t id, const std::string& text) {
    Set(id, text);
    return Run(files::OP_ADD);
  }
  // GET by the ID key.
  int GetById(int32_t id) {
    Set(id, "");
    return Run(files::OP_GETfilekey, reinterpret_cast<intptr_t>(&keys[0]));
  }
  intptr_t IdKey() { return reinterpret_cast<intptr_t>(&keys[0]); }
  intptr_t NameKey() { return reinterpret_cast<intptr_t>(&keys[1]); }
  int32_t Records() {
    Run(files::OP_RECORDSfile);
    return lastResult;
  }
  // Pushes a string argument on the runtime string stack.
  static void Push(const std::string& text) { files::CurrentRuntimeState()->strings.push_back(text); }
  static std::string Pop() {
    auto& strings = files::CurrentRuntimeState()->strings;
    if (strings.empty()) return "<empty>";
    std::string top = strings.back();
    strings.pop_back();
    return top;
  }
  std::string Send(const std::string& text) {
    Push(text);
    Run(files::OP_SEND);
    return Pop();
  }

  std::string name;
  uint8_t record[kLength];
  files::FieldDescriptor fields[3];
  int32_t idComponents[1] = {1};
  int32_t nameComponents[1] = {2};
  files::KeyDescriptor keys[2];
  files::FileDescriptor fd;
  int32_t lastResult = 0;
};

// Runs `body` in a child process; returns its exit status (or -1 when it did
// not exit normally).
template <typename F>
pid_t Spawn(F&& body) {
  pid_t pid = fork();
  if (pid == 0) {
    int status = body();
    _exit(status);
  }
  return pid;
}

inline int Reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace pr::store::testing
