// The partner file `Partneri` (prefix PAR): its compiled declaration and the
// calling thread's instance of it.
//
//   Partneri  FILE,DRIVER('TARNWELL'),CREATE,THREAD
//   PAR:IdKey   KEY(+PAR:ID),OPT,NOCASE,PRIMARY
//             RECORD
//   PAR:ID        LONG
//   PAR:NAZIV     STRING(20)
//             END
//             END
//
// The file is declared THREAD: every thread has its own descriptor, key and
// record buffer (files/thread_files.h), released through DESTROY at thread
// end.
#pragma once

#include <cstdint>

#include "files/descriptors.h"
#include "files/thread_files.h"

namespace pr::app {

// The 24-byte record buffer: PAR:ID LONG then PAR:NAZIV STRING(20), padded
// with spaces, no terminator.
struct PartnerRecord {
  int32_t id;
  char naziv[20];
};
static_assert(sizeof(PartnerRecord) == 24, "the partner record is 24 bytes");

inline constexpr uint32_t kPartnerRecordSize = 24;
inline constexpr uint32_t kPartnerFieldId = 1;     // PAR:ID
inline constexpr uint32_t kPartnerFieldNaziv = 2;  // PAR:NAZIV

// The compiled template of the declaration.
const files::ThreadFileTemplate& PartnerFileTemplate();

// The calling thread's instance of Partneri, its key PAR:IdKey and its record
// buffer; made on first use in the thread.  Null only when the instance
// cannot be made (no memory, or the thread is ending).
files::FileDescriptor* Partneri();
files::KeyDescriptor* PartnerIdKey();
PartnerRecord* PartnerBuffer();

}  // namespace pr::app
