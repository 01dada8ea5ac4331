// Inside platform/ only: Windows file names to POSIX paths.
#pragma once

#include <string>

#include "platform/kernel.h"

namespace prk {

// Turns a Windows-style name into a POSIX path: backslashes become slashes
// and the Windows-1250 text becomes UTF-8.
// FALSE with ERROR_PATH_NOT_FOUND for a null or empty name, and with
// ERROR_INVALID_NAME for a name holding a control character or one of
// < > : " | ? * (which no Windows file name may hold).
bool ToPosixPath(const char* name, std::string* path);

// Windows names match files without regard to case.  When *path does not
// exist but its folder holds exactly one entry whose name equals the last
// component in any letter case, *path is changed to name that entry and the
// answer is true.  Otherwise *path is left alone and the answer is false.
bool ResolveCase(std::string* path);

// Whether the folder part of `path` exists (tells ERROR_FILE_NOT_FOUND from
// ERROR_PATH_NOT_FOUND).
bool ParentExists(const std::string& path);

}  // namespace prk
