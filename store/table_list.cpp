#include "store/table_list.h"

#include "files/descriptors.h"
#include "files/errors.h"
#include "files/statements.h"
#include "platform/kernel.h"
#include "store/driver.h"
#include "store/status.h"

namespace pr::store {
int ListTableNames(const std::string& fileName, std::vector<std::string>* names) {
  names->clear();
  if (GetFileAttributesA(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) return err::FileNotFound;
  // A declaration of the file alone: PNMQ reads the next name on a file that
  // is not open, through the driver entry and its critical section.
  files::FileDescriptor fd;
  fd.entry = TarnwellEntry;
  fd.label = "TABLES";
  fd.declaration.name = fileName;
  std::string name;
  int error = 0;
  // A file holds at most as many tables as names; the bound only guards
  // against a damaged name order that would never end.
  for (size_t guard = 0; guard < 100000; ++guard) {
    std::string next = files::Send(&fd, "PNMQ=" + name);
    int code = files::ErrorCode();
    if (code != 0) {
      error = code;
      break;
    }
    if (next.empty() || (!names->empty() && next <= names->back())) break;
    names->push_back(next);
    name = next;
  }
  files::Destroy(&fd);
  // The query answers nothing for a file that is not a keyed file of this
  // format; a file without any table has nothing to pick either.
  if (error == 0 && names->empty()) error = err::InvalidDataFile;
  if (error != 0) names->clear();
  return error;
}

}  // namespace pr::store
