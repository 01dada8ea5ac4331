// Descriptors (files/descriptors.h) rebuilt from a stored definition
// (store/definition_stream.h), for a file opened without a declaration.
//
// Field numbers of descriptors count from 1; the stream's field indexes from
// 0, so a stored component of index i becomes field number i + 1, negative
// when its direction is descending (1).
#pragma once

#include <vector>

#include "files/descriptors.h"
#include "store/definition_stream.h"

namespace pr::store {

// Descriptors built from a stored definition, for a file opened without a
// declaration.  Owns every array and string the descriptors point to; must
// outlive the FileDescriptor it was attached to.
class BuiltDescriptors {
 public:
  explicit BuiltDescriptors(const TableDefinition& definition);
  BuiltDescriptors(const BuiltDescriptors&) = delete;
  BuiltDescriptors& operator=(const BuiltDescriptors&) = delete;

  // Points the record structure, keys and memos of `file` at these
  // descriptors and sets its record length.  The record buffer itself stays
  // the caller's (REQUIRES: it holds at least definition.recordLength bytes).
  void AttachTo(files::FileDescriptor* file);

  const std::vector<files::FieldDescriptor>& fields() const { return fields_; }
  const std::vector<files::KeyDescriptor>& keys() const { return keys_; }
  const std::vector<files::MemoDescriptor>& memos() const { return memos_; }

 private:
  TableDefinition definition_;  // the strings the descriptors point into
  std::vector<uint32_t> dims_;
  std::vector<std::vector<int32_t>> components_;
  std::vector<files::FieldDescriptor> fields_;
  std::vector<files::KeyDescriptor> keys_;
  std::vector<files::MemoDescriptor> memos_;
  uint32_t recordLength_ = 0;
};

}  // namespace pr::store
