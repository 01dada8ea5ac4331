// The errors of the store.
//
// The store reports the runtime's file error numbers (files/error_codes.h) as
// its operations' results; inside the store they are written err::Name.
//
// Below the driver's entry a store operation reports a Status: what went
// wrong (kind), its number (code) and, for a damaged file, the page where it
// was seen.  The number's meaning follows the kind: a runtime file error for
// kFile, an operating system error for kSystem, a driver error (the numbers
// of the driver error box) for kDamaged.  The driver's entry turns a Status
// into the one runtime file error the statement posts; nothing below it
// posts error codes itself.
#pragma once

#include <cstdint>

#include "files/error_codes.h"

namespace pr::store {

namespace err = files::err;

class [[nodiscard]] Status {
 public:
  enum class Kind : uint8_t {
    kOk,
    kFile,     // a runtime file error (err::RecordNotFound, err::InvalidDataFile ...)
    kSystem,   // an operating system error number, as the platform reported it
    kDamaged,  // the file is inconsistent: a driver error number, and the page
    kStale,    // a read met a change of the file and must be repeated
  };

  constexpr Status() = default;
  static constexpr Status Ok() { return {}; }
  static constexpr Status File(int32_t code) { return {Kind::kFile, code, -1}; }
  static constexpr Status System(uint32_t error) { return {Kind::kSystem, static_cast<int32_t>(error), -1}; }
  static constexpr Status Damaged(int32_t driverError, int32_t page = -1) {
    return {Kind::kDamaged, driverError, page};
  }
  static constexpr Status Stale() { return {Kind::kStale, 0, -1}; }
  // The answer of an operation that reports a runtime file error or 0.
  static constexpr Status FromFileError(int32_t code) { return code == 0 ? Ok() : File(code); }

  constexpr bool ok() const { return kind_ == Kind::kOk; }
  constexpr explicit operator bool() const { return ok(); }
  constexpr Kind kind() const { return kind_; }
  constexpr int32_t code() const { return code_; }
  // The page reference where damage was seen, or -1.
  constexpr int32_t page() const { return page_; }
  constexpr bool operator==(const Status&) const = default;

 private:
  constexpr Status(Kind kind, int32_t code, int32_t page) : kind_(kind), code_(code), page_(page) {}

  Kind kind_ = Kind::kOk;
  int32_t code_ = 0;
  int32_t page_ = -1;
};

// The runtime file error a statement posts for `status` (0 for Ok).  The
// driver's entry is the one place a statement's Status becomes its error
// code; programs that use the store directly (twl) report through it too.
int32_t FileErrorOf(const Status& status);

}  // namespace pr::store
