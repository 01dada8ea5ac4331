#include "store/container_format.h"

namespace pr::store {

void FileHeader::Serialize(uint8_t out[kHeaderSize]) const {
  std::memset(out, 0, kHeaderSize);
  StoreU32(out + 0x000, 0);
  StoreU16(out + 0x004, static_cast<uint16_t>(kHeaderSize));
  StoreU32(out + 0x006, committedLength);
  StoreU32(out + 0x00A, pendingLength);
  std::memcpy(out + 0x00E, kMagic, 4);
  std::memcpy(out + 0x014, lastRecordNumber.data(), 4);
  StoreU32(out + 0x018, changeCounter);
  StoreU32(out + 0x01C, static_cast<uint32_t>(rootReference));
  for (int i = 0; i < kClassCount; ++i) {
    StoreU32(out + 0x020 + 4 * i, static_cast<uint32_t>(regionStart[i]));
    StoreU32(out + 0x110 + 4 * i, static_cast<uint32_t>(regionEnd[i]));
  }
}

bool FileHeader::Parse(const uint8_t in[kHeaderSize]) {
  if (std::memcmp(in + 0x00E, kMagic, 4) != 0) return false;
  committedLength = LoadU32(in + 0x006);
  pendingLength = LoadU32(in + 0x00A);
  std::memcpy(lastRecordNumber.data(), in + 0x014, 4);
  changeCounter = LoadU32(in + 0x018);
  rootReference = static_cast<int32_t>(LoadU32(in + 0x01C));
  for (int i = 0; i < kClassCount; ++i) {
    regionStart[i] = static_cast<int32_t>(LoadU32(in + 0x020 + 4 * i));
    regionEnd[i] = static_cast<int32_t>(LoadU32(in + 0x110 + 4 * i));
  }
  return true;
}

bool FileHeader::PeekCounters(const uint8_t in[64], Counters* out) {
  if (std::memcmp(in + 0x00E, kMagic, 4) != 0) return false;
  out->committedLength = LoadU32(in + 0x006);
  out->pendingLength = LoadU32(in + 0x00A);
  out->changeCounter = LoadU32(in + 0x018);
  return true;
}

bool FileHeader::IsSane() const {
  const int64_t limit = static_cast<int64_t>((kPageAreaLimit - kHeaderSize) / kUnit);
  if (regionStart[0] < 0 || regionEnd[0] < regionStart[0]) return false;
  int64_t previousEnd = regionEnd[0];
  for (int i = 1; i <= kMaxClass; ++i) {
    int64_t s = regionStart[i], e = regionEnd[i];
    if (s < previousEnd || e < s || e > limit) return false;
    if ((e - s) % i != 0) return false;
    previousEnd = e;
  }
  // Pages in the regions need a root among them, whatever the counter says
  // (a counter that wrapped to 0 in another program's hands included).
  if (EndReference() != 0) {
    int cls = ClassOf(rootReference);
    if (cls == 0) return false;
    if ((rootReference - regionStart[cls]) % cls != 0) return false;
  }
  if (committedLength != pendingLength) {
    if (committedLength > pendingLength) return false;
    if (committedLength < kHeaderSize || committedLength % kUnit != 0 || pendingLength % kUnit != 0) return false;
  }
  return true;
}

}  // namespace pr::store
