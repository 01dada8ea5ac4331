// What the browse, form and terminal tests share: a scratch folder, prhost
// run headless in it with a script as its user, and the partner file filled
// and read back straight through the file layer.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/partner_file.h"
#include "app/partner_open.h"
#include "files/errors.h"
#include "files/statements.h"

namespace pr::app::testing {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct HostRun {
  std::string output;      // prhost's standard output and error
  std::string transcript;  // the headless transcript
  int status = -1;         // the exit status, -1 when it did not exit
};

// Runs `prhost --ui=headless ARGS` in `dir` with `script` as the user.
inline HostRun RunPrhost(const std::string& dir, const std::string& args, const std::string& script) {
  const std::string scriptPath = dir + "/script.txt", transcriptPath = dir + "/transcript.txt";
  std::ofstream(scriptPath, std::ios::binary) << script;
  std::filesystem::remove(transcriptPath);
  const std::string command = "cd '" + dir + "' && PR_UI_SCRIPT='" + scriptPath + "' PR_UI_TRANSCRIPT='" +
                              transcriptPath + "' timeout 120 '" PR_BINARY_DIR "/prhost' --ui=headless " + args +
                              " 2>&1";
  HostRun run;
  FILE* pipe = popen(command.c_str(), "r");
  EXPECT_NE(pipe, nullptr);
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int ended = pclose(pipe);
  if (WIFEXITED(ended)) run.status = WEXITSTATUS(ended);
  run.transcript = ReadFile(transcriptPath);
  return run;
}

// Runs `body` with `dir` as the current folder.
template <typename F>
void InFolder(const std::string& dir, F&& body) {
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  body();
  std::filesystem::current_path(old);
}

// Stores the partners (identifier, name) in `dir`'s partner file in one
// transaction (one durable write instead of one per partner).
inline void StorePartners(const std::string& dir, const std::vector<std::pair<int32_t, std::string>>& partners) {
  InFolder(dir, [&] {
    PartnerFileUse use;
    use.Open();
    files::Logout(5, {Partneri()});
    ASSERT_EQ(files::ErrorCode(), 0);
    PartnerRecord* record = PartnerBuffer();
    for (size_t i = 0; i < partners.size(); ++i) {
      const std::string& name = partners[i].second;
      record->id = partners[i].first;
      std::memset(record->naziv, ' ', sizeof record->naziv);
      std::memcpy(record->naziv, name.data(), std::min(name.size(), sizeof record->naziv));
      files::Add(Partneri());
      ASSERT_EQ(files::ErrorCode(), 0) << i;
    }
    files::Commit();
  });
}

// Partners 1..names.size() with these names.
inline void StorePartners(const std::string& dir, const std::vector<std::string>& names) {
  std::vector<std::pair<int32_t, std::string>> partners;
  for (size_t i = 0; i < names.size(); ++i) partners.emplace_back(static_cast<int32_t>(i + 1), names[i]);
  StorePartners(dir, partners);
}

// What `dir`'s partner file holds: identifier -> name without its padding.
inline std::map<int32_t, std::string> StoredPartners(const std::string& dir) {
  std::map<int32_t, std::string> out;
  InFolder(dir, [&] {
    PartnerFileUse use;
    use.Open();
    const PartnerRecord* record = PartnerBuffer();
    files::Set(PartnerIdKey());
    for (files::Next(Partneri()); files::ErrorCode() == 0; files::Next(Partneri())) {
      std::string name(record->naziv, sizeof record->naziv);
      name.erase(name.find_last_not_of(' ') + 1);
      out[record->id] = name;
    }
  });
  return out;
}

}  // namespace pr::app::testing
