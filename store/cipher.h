// Block encryption with an owner password.
//
// The key state is 64 bytes built from the password; blocks are 64 bytes;
// both are handled as sixteen little-endian u32 words.  Enciphering and
// deciphering are exact inverses for any key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pr::store {

class CipherKey {
 public:
  explicit CipherKey(std::string_view password);
  // length must be a multiple of 64.
  void Encipher(uint8_t* data, size_t length) const;
  void Decipher(uint8_t* data, size_t length) const;
  const uint32_t* words() const { return key_; }

  static void EncipherBlock(uint32_t block[16], const uint32_t key[16]);
  static void DecipherBlock(uint32_t block[16], const uint32_t key[16]);

 private:
  uint32_t key_[16];
};

}  // namespace pr::store
