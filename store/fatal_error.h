// The driver error box: what the keyed-file store does when it finds its file
// or its own state inconsistent.
//
// RaiseDriverError(number, fileName) calls the installed FatalHandler.  The
// default handler writes "Possible data corruption in file" (or the program's
// message override 4101) followed by " (" number ")" and the file name to
// stderr and ends the process.  A handler must not return: if one does, the
// process aborts.  Tests install ThrowingFatalHandler, which throws
// DriverError; every Container is exception safe to the extent that it can be
// destroyed (nothing leaks, nothing crashes) after such a throw, although the
// data it holds in memory is then undefined and should be discarded.
//
// Thread safety: the handler pointer is process-wide and atomic; install it
// before other threads run drivers.
#pragma once

#include <stdexcept>
#include <string>

namespace pr::store {

using FatalHandler = void (*)(int number, const char* fileName);

// Error numbers raised through the box, named for their checks.
enum DriverErrorNumber : int {
  kErrExpandLiteralOverrun = 522,
  kErrExpandRunOverrun = 530,
  kErrRecordTooLong = 824,
  kErrRefreshForRoot = 1013,
  kErrNumberInReadState = 1163,
  kErrRefreshForNumber = 1164,
  kErrNumbersExhausted = 1173,
  kErrStoreInReadState = 1194,
  kErrDeleteInReadState = 1203,
  kErrSplitTooFewRecords = 1364,
  kErrPageLengthMismatch = 1477,
  kErrPageParse = 1602,
  kErrImageOverEstimate = 1659,
  kErrPageTooLarge = 1678,
  kErrReferenceInNoRegion = 1735,
  kErrRoomLargerThanClass = 1781,
  kErrMovedPageEmpty = 1891,
  kErrMovedPageNoEntry = 1894,
  kErrShortRead = 2172,
  kErrReadNotBlockMultiple = 2272,
  kErrReadFailed = 2277,
  kErrWriteNotBlockMultiple = 2286,
  // Checks of this store beyond the classic numbers.
  kErrPageHomeMismatch = 2401,    // a page image names another home than its slot
  kErrPageLevelMismatch = 2402,   // a child page is not exactly one level below its parent
  kErrPageOrder = 2403,           // records of a page out of key order
  kErrPageAreaFull = 2404,        // the page area would reach the lock bytes at 2 GiB
  kErrTreeInconsistent = 2405,    // an operation found the tree in a state it cannot be in
};

// Thrown by ThrowingFatalHandler.
class DriverError : public std::runtime_error {
 public:
  DriverError(int number, std::string fileName);
  int number() const { return number_; }
  const std::string& fileName() const { return fileName_; }

 private:
  int number_;
  std::string fileName_;
};

// Installs a handler (nullptr restores the default); returns the previous one.
FatalHandler SetFatalHandler(FatalHandler handler);
void DefaultFatalHandler(int number, const char* fileName);
void ThrowingFatalHandler(int number, const char* fileName);

// The box text for a number: "Possible data corruption in file (522)" or the
// override 4101 in place of the first part.
std::string DriverErrorText(int number);

[[noreturn]] void RaiseDriverError(int number, const char* fileName);

}  // namespace pr::store
