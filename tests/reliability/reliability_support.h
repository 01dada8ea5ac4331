// Shared pieces of the reliability trials: trial counts, the state of a
// partner-like file read through the driver, and the store's own tree
// verifier run over a file on disk.
//
// Trial counts: each trial names its full count; PR_RELIABILITY_SCALE (a
// positive number, default 1) multiplies it for long runs, and the sanitized
// build divides it by 4 to stay within the suite's time.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "platform/kernel.h"
#include "store/container.h"
#include "store/container_verify.h"
#include "store/fatal_error.h"
#include "tests/store/test_driver_support.h"

namespace pr::reliability {

using store::testing::PartnerFile;

inline int Trials(int full) {
  double scale = 1.0;
  if (const char* text = getenv("PR_RELIABILITY_SCALE")) {
    double value = atof(text);
    if (value > 0) scale = value;
  }
#ifdef PR_SANITIZED
  scale /= 4;
#endif
  int n = static_cast<int>(full * scale);
  return n < 1 ? 1 : n;
}

// id -> name, as the driver reads it in key order.
using Records = std::map<int32_t, std::string>;

// Reads every record of the file through PAR:IdKey.  `rc` receives the
// error that ended the scan (33 for a clean end) or of the open; -1 when a
// key came twice, -2 when the file's record count disagrees with the scan.
inline Records ReadRecords(const std::string& path, int* rc) {
  Records records;
  PartnerFile file(path);
  if ((*rc = file.Open()) != 0) return records;
  if ((*rc = file.Run(files::OP_SETkey, file.IdKey())) != 0) return records;
  while ((*rc = file.Run(files::OP_NEXT)) == 0) {
    if (!records.emplace(file.Id(), file.Name()).second) {
      *rc = -1;  // a key read twice
      break;
    }
  }
  if (*rc == 33 && file.Records() != static_cast<int32_t>(records.size())) *rc = -2;
  file.Close();
  return records;
}

// Runs the store's tree verifier over `diskPath` (the file itself, with its
// extension).  Empty when the file verifies, else what is wrong.  Open the
// file through the driver first, so a pending area left by a crash is
// settled.
inline std::string VerifyFile(const std::string& diskPath) {
  store::FatalHandler previous = store::SetFatalHandler(store::ThrowingFatalHandler);
  std::string problem;
  HANDLE handle = CreateFileA(diskPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    problem = "cannot open " + diskPath;
  } else {
    try {
      store::ContainerOptions options;
      options.readOnly = true;
      store::Container container(handle, diskPath, options);
      if (int rc = container.RefreshHeader()) {
        problem = "refresh " + std::to_string(rc);
      } else if (container.pendingAreaOnDisk()) {
        problem = "an update is still pending";
      } else {
        store::VerifyReport report = store::VerifyContainer(container);
        if (!report.ok) problem = report.problem;
      }
    } catch (const store::DriverError& e) {
      problem = "driver error box " + std::to_string(e.number());
    }
    CloseHandle(handle);
  }
  store::SetFatalHandler(previous);
  return problem;
}

// Waits for a child; true when it exited with `code`.  Anything else (a
// signal, a sanitizer report, another code) is described in `why`.
inline bool ExitedWith(pid_t pid, int code, std::string* why) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) {
    *why = "waitpid failed";
    return false;
  }
  if (WIFSIGNALED(status)) {
    *why = "killed by signal " + std::to_string(WTERMSIG(status));
    return false;
  }
  if (WEXITSTATUS(status) != code) {
    *why = "exit status " + std::to_string(WEXITSTATUS(status));
    return false;
  }
  return true;
}

}  // namespace pr::reliability
