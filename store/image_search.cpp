#include "store/image_search.h"

#include "platform/kernel.h"
#include "store/compress.h"
#include "store/container_format.h"

namespace pr::store {

bool ReadStoredShape(const uint8_t* image, size_t length, int32_t reference, StoredShape* shape) {
  if (length < kPageHeaderSize || length > kMaxPageBytes) return false;
  // The header is taken in one copy and parsed from there: each of its
  // bytes is read once.
  uint8_t header[kPageHeaderSize];
  SharedBytes::Copy(header, image, kPageHeaderSize);
  StoredShape s;
  s.home = LoadU32(header);
  s.stored = LoadU16(header + 4);
  s.expanded = LoadU16(header + 6);
  s.estimate = LoadU16(header + 8);
  s.count = LoadU16(header + 10);
  s.level = header[12];
  s.prefix = kPageHeaderSize + (s.level > 0 ? 4 * s.count : 0);
  if (RoundUpToUnit(s.stored) != length || s.home != static_cast<uint32_t>(PageOffset(reference)) ||
      s.stored < s.prefix || s.expanded < s.stored)
    return false;
  *shape = s;
  return true;
}

int LowerBoundInStored(const uint8_t* image, size_t length, int32_t reference, ByteView key, StoredShape* shape,
                       StoredHit* hit) {
  if (!ReadStoredShape(image, length, reference, shape) || shape->compressed()) return kStoredUnusable;
  // The stored length is at most the slot's: the walk stays inside it.
  switch (image_walk::LowerBound<SharedBytes>(image, shape->stored, shape->count, shape->prefix, shape->node(),
                                              key, hit)) {
    case image_walk::kFound: return kStoredFound;
    case image_walk::kNone: return kStoredAfterAll;
    default: return kStoredUnusable;
  }
}

bool ChildInStored(const uint8_t* image, size_t length, int32_t reference, ByteView key, long* index,
                   int32_t* child, int expectedLevel) {
  StoredShape shape;
  StoredHit hit;
  const int found = LowerBoundInStored(image, length, reference, key, &shape, &hit);
  if (found == kStoredUnusable || !shape.node() || shape.count == 0) return false;
  if (expectedLevel >= 0 && shape.level != expectedLevel) return false;
  const long at = found == kStoredAfterAll ? static_cast<long>(shape.count) - 1
                                           : static_cast<long>(hit.index) -
                                                 (image_walk::KeyEquals<SharedBytes>(image, hit, key) ? 0 : 1);
  // The child array lies inside the prefix, which the shape found inside
  // the stored length.
  const size_t followed = at < 0 ? 0 : static_cast<size_t>(at);
  *index = at;
  *child = static_cast<int32_t>(LoadU32From<SharedBytes>(image + kPageHeaderSize + 4 * followed));
  return true;
}

bool ExpandStored(const uint8_t* image, const StoredShape& shape, uint8_t* out, size_t capacity) {
  if (capacity < shape.expanded || shape.prefix < kPageHeaderSize || shape.prefix > shape.stored ||
      shape.stored > shape.expanded || shape.stored > kMaxPageBytes)
    return false;
  StoreU32(out, shape.home);
  StoreU16(out + 4, static_cast<uint16_t>(shape.expanded));
  StoreU16(out + 6, static_cast<uint16_t>(shape.expanded));
  StoreU16(out + 8, static_cast<uint16_t>(shape.estimate));
  StoreU16(out + 10, static_cast<uint16_t>(shape.count));
  out[12] = shape.level;
  if (!shape.compressed()) {
    SharedBytes::Copy(out + kPageHeaderSize, image + kPageHeaderSize, shape.stored - kPageHeaderSize);
    return true;
  }
  SharedBytes::Copy(out + kPageHeaderSize, image + kPageHeaderSize, shape.prefix - kPageHeaderSize);
  return ExpandShared(image + shape.prefix, shape.stored - shape.prefix, out + shape.prefix,
                      shape.expanded - shape.prefix) == 0;
}

namespace {

// The arguments and the answer of one guarded step.  Plain data: the guard
// may jump out of the step and nothing here needs destroying.
struct Step {
  const uint8_t* image;
  size_t length;
  int32_t reference;
  ByteView key;
  StoredShape* shape;
  StoredHit* hit;
  uint8_t* out;
  size_t capacity;
  long* index;
  int32_t* child;
  int answer;
  int level = -1;  // the level a node must have (-1: any)
};

}  // namespace

bool LoadStoredFromView(const uint8_t* image, size_t length, int32_t reference, std::vector<uint8_t>* out) {
  // One guarded step when the buffer is already long enough (a buffer kept
  // from load to load usually is); else the buffer is sized outside the
  // guard and a second step expands.
  enum { kRefused, kExpanded, kNeedsRoom };
  StoredShape shape;
  Step step{image, length, reference, {}, &shape, nullptr, out->data(), out->size(), nullptr, nullptr, kRefused};
  if (!CallWithViewGuard(
          [](void* c) {
            Step* s = static_cast<Step*>(c);
            if (!ReadStoredShape(s->image, s->length, s->reference, s->shape))
              s->answer = kRefused;
            else if (s->shape->expanded > s->capacity)
              s->answer = kNeedsRoom;
            else
              s->answer = ExpandStored(s->image, *s->shape, s->out, s->capacity) ? kExpanded : kRefused;
          },
          &step) ||
      step.answer == kRefused)
    return false;
  const size_t size = RoundUpToUnit(shape.expanded);
  if (step.answer == kExpanded) {
    out->resize(size);  // the bytes up to `expanded` stay
    return true;
  }
  out->resize(size);
  step.out = out->data();
  step.capacity = out->size();
  step.answer = 0;
  return CallWithViewGuard(
             [](void* c) {
               Step* s = static_cast<Step*>(c);
               s->answer = ExpandStored(s->image, *s->shape, s->out, s->capacity);
             },
             &step) &&
         step.answer;
}

int LowerBoundInView(const uint8_t* image, size_t length, int32_t reference, ByteView key, StoredShape* shape,
                     StoredHit* hit) {
  Step step{image, length, reference, key, shape, hit, nullptr, 0, nullptr, nullptr, kStoredUnusable};
  if (!CallWithViewGuard(
          [](void* c) {
            Step* s = static_cast<Step*>(c);
            s->answer = LowerBoundInStored(s->image, s->length, s->reference, s->key, s->shape, s->hit);
          },
          &step))
    return kStoredUnusable;
  return step.answer;
}

bool ChildInView(const uint8_t* image, size_t length, int32_t reference, ByteView key, long* index, int32_t* child,
                 int expectedLevel) {
  Step step{image, length, reference, key, nullptr, nullptr, nullptr, 0, index, child, 0};
  step.level = expectedLevel;
  return CallWithViewGuard(
             [](void* c) {
               Step* s = static_cast<Step*>(c);
               s->answer = ChildInStored(s->image, s->length, s->reference, s->key, s->index, s->child, s->level);
             },
             &step) &&
         step.answer;
}

}  // namespace pr::store
