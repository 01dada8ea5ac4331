// Windows file names on a POSIX file system.
#include "platform/kernel_paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace prk {
namespace {
// The folder part of a path ("." for a bare name) and its last component.
void Split(const std::string& path, std::string* folder, std::string* leaf) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder->assign(1, '.');
    *leaf = path;
  } else {
    if (slash == 0)
      folder->assign(1, '/');
    else
      folder->assign(path, 0, slash);
    leaf->assign(path, slash + 1, std::string::npos);
  }
}
}  // namespace

bool ToPosixPath(const char* name, std::string* path) {
  if (name == nullptr || *name == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string ansi;
  for (const char* p = name; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || std::strchr("<>:\"|?*", c) != nullptr) {
      SetLastError(ERROR_INVALID_NAME);
      return false;
    }
    ansi.push_back(c == '\\' ? '/' : static_cast<char>(c));
  }
  // The name is Windows-1250 text; the file system's names are UTF-8.
  path->assign(AnsiToUtf8(ansi.data(), ansi.size(), nullptr, 0) + 1, '\0');
  path->resize(AnsiToUtf8(ansi.data(), ansi.size(), path->data(), path->size()));
  return true;
}

bool ResolveCase(std::string* path) {
  struct stat st {};
  if (lstat(path->c_str(), &st) == 0 || errno != ENOENT) return false;
  std::string folder;
  std::string leaf;
  Split(*path, &folder, &leaf);
  if (leaf.empty() || leaf == "." || leaf == "..") return false;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::string found;
  int matches = 0;
  while (struct dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, leaf.c_str()) == 0) {
      found = entry->d_name;
      ++matches;
    }
  }
  closedir(dir);
  if (matches != 1) return false;
  *path = (path->find('/') == std::string::npos) ? found : folder + (folder == "/" ? "" : "/") + found;
  return true;
}

bool ParentExists(const std::string& path) {
  std::string folder;
  std::string leaf;
  Split(path, &folder, &leaf);
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace prk
