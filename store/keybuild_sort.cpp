#include "store/keybuild_sort.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pr::store {

namespace {
constexpr size_t kMergeBufferBytes = size_t{64} << 10;
}  // namespace

// Orders the merge heap so that the run with the smallest current entry is at
// the front.
struct KeySorter::RunGreater {
  size_t n;
  bool operator()(const Run* a, const Run* b) const;
};

struct KeySorter::Run {
  std::FILE* file = nullptr;
  std::vector<uint8_t> buffer;
  size_t count = 0;  // entries in buffer
  size_t at = 0;     // current entry in buffer
  ~Run() {
    if (file != nullptr) std::fclose(file);
  }
  const uint8_t* current(size_t entrySize) const { return buffer.data() + at * entrySize; }
};

bool KeySorter::RunGreater::operator()(const Run* a, const Run* b) const {
  return std::memcmp(a->current(n), b->current(n), n) > 0;
}

KeySorter::KeySorter(size_t entrySize, size_t runBytes) : entrySize_(entrySize) {
  // Runs are indexed by 32-bit positions.
  capacity_ = std::clamp<size_t>(runBytes / (entrySize + sizeof(uint32_t)), 2, UINT32_MAX);
}

KeySorter::~KeySorter() = default;

void KeySorter::SortBuffer() {
  order_.resize(buffered_);
  for (size_t i = 0; i < buffered_; ++i) order_[i] = uint32_t(i);
  const uint8_t* base = buffer_.data();
  const size_t n = entrySize_;
  std::sort(order_.begin(), order_.end(),
            [base, n](uint32_t a, uint32_t b) { return std::memcmp(base + a * n, base + b * n, n) < 0; });
}

bool KeySorter::SpillRun() {
  SortBuffer();
  auto run = std::make_unique<Run>();
  run->file = std::tmpfile();
  if (run->file == nullptr) return false;
  for (uint32_t i : order_) {
    if (std::fwrite(buffer_.data() + size_t{i} * entrySize_, entrySize_, 1, run->file) != 1) return false;
  }
  if (std::fflush(run->file) != 0 || std::fseek(run->file, 0, SEEK_SET) != 0) return false;
  runs_.push_back(std::move(run));
  buffered_ = 0;
  return true;
}

bool KeySorter::Add(const uint8_t* entry) {
  if (failed_ || finished_) return false;
  if (buffer_.empty()) buffer_.resize(std::min(capacity_, size_t{1024}) * entrySize_);
  if (buffered_ == capacity_) {
    if (!SpillRun()) {
      failed_ = true;
      return false;
    }
  }
  if ((buffered_ + 1) * entrySize_ > buffer_.size()) {
    buffer_.resize(std::min(capacity_, buffered_ * 2 + 1) * entrySize_);
  }
  std::memcpy(buffer_.data() + buffered_ * entrySize_, entry, entrySize_);
  ++buffered_;
  ++added_;
  return true;
}

bool KeySorter::Refill(Run& run) {
  size_t got = std::fread(run.buffer.data(), entrySize_, run.buffer.size() / entrySize_, run.file);
  if (got == 0 && std::ferror(run.file)) failed_ = true;
  run.count = got;
  run.at = 0;
  return got > 0;
}

bool KeySorter::Finish() {
  if (failed_) return false;
  finished_ = true;
  if (runs_.empty()) {
    SortBuffer();
    return true;
  }
  if (buffered_ > 0 && !SpillRun()) {
    failed_ = true;
    return false;
  }
  buffer_.clear();
  buffer_.shrink_to_fit();
  order_.clear();
  order_.shrink_to_fit();
  const size_t perRun = std::max<size_t>(kMergeBufferBytes / entrySize_, 1);
  for (auto& run : runs_) {
    run->buffer.resize(perRun * entrySize_);
    if (Refill(*run)) heap_.push_back(run.get());
  }
  std::make_heap(heap_.begin(), heap_.end(), RunGreater{entrySize_});
  return !failed_;
}

const uint8_t* KeySorter::Next() {
  if (failed_ || !finished_) return nullptr;
  if (runs_.empty()) {
    if (nextInMemory_ >= order_.size()) return nullptr;
    return buffer_.data() + size_t{order_[nextInMemory_++]} * entrySize_;
  }
  const RunGreater greater{entrySize_};
  if (last_ != nullptr) {
    // Advance the run whose entry was handed out last and put it back.
    if (++last_->at < last_->count || Refill(*last_)) {
      heap_.push_back(last_);
      std::push_heap(heap_.begin(), heap_.end(), greater);
    }
    last_ = nullptr;
    if (failed_) return nullptr;
  }
  if (heap_.empty()) return nullptr;
  std::pop_heap(heap_.begin(), heap_.end(), greater);
  last_ = heap_.back();
  heap_.pop_back();
  return last_->current(entrySize_);
}

}  // namespace pr::store
