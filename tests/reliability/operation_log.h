// The record of operations a worker sends to the checking parent: an intent
// before each statement and a confirmation after it succeeded.  Messages are
// fixed-size and smaller than PIPE_BUF, so each write lands whole or not at
// all even when the writer is killed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/reliability/reliability_support.h"

namespace pr::reliability {

struct OperationMessage {
  uint8_t done;  // 0: about to run, 1: succeeded
  char op;       // 'A' add, 'P' put, 'D' delete
  int32_t id;
  char name[20];
};

inline bool SendOperation(int fd, bool done, char op, int32_t id, const std::string& name) {
  OperationMessage message{};
  message.done = done ? 1 : 0;
  message.op = op;
  message.id = id;
  std::memcpy(message.name, name.data(), std::min<size_t>(name.size(), sizeof message.name));
  return write(fd, &message, sizeof message) == static_cast<ssize_t>(sizeof message);
}

// Reads messages until end of file.
inline std::vector<OperationMessage> ReceiveOperations(int fd) {
  std::vector<OperationMessage> messages;
  OperationMessage message;
  size_t have = 0;
  for (;;) {
    ssize_t n = read(fd, reinterpret_cast<char*>(&message) + have, sizeof message - have);
    if (n <= 0) break;
    have += static_cast<size_t>(n);
    if (have == sizeof message) {
      messages.push_back(message);
      have = 0;
    }
  }
  return messages;
}

inline void Apply(const OperationMessage& m, Records* records) {
  std::string name(m.name, strnlen(m.name, sizeof m.name));
  if (m.op == 'D')
    records->erase(m.id);
  else
    (*records)[m.id] = name;
}

}  // namespace pr::reliability
