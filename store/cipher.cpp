#include "store/cipher.h"

#include "store/container_format.h"

namespace pr::store {

CipherKey::CipherKey(std::string_view password) {
  // The password is taken cyclically including its terminating zero, starting
  // with its second byte: p1 .. p(n-1), 0, p0, p1, ...
  const size_t cycle = password.size() + 1;
  uint8_t state[64] = {};
  for (size_t i = 0; i < 64; ++i) {
    size_t at = (i + 1) % cycle;
    uint8_t byte = at < password.size() ? static_cast<uint8_t>(password[at]) : 0;
    state[(i * 17) % 64] = static_cast<uint8_t>(byte + i);
  }
  for (int w = 0; w < 16; ++w) key_[w] = LoadU32(state + 4 * w);
  // The key state enciphers itself twice, as both key and block.
  EncipherBlock(key_, key_);
  EncipherBlock(key_, key_);
}

void CipherKey::EncipherBlock(uint32_t block[16], const uint32_t key[16]) {
  for (int i = 0; i < 16; ++i) {
    uint32_t k = key[i];  // read before this step changes anything (key may be block)
    uint32_t j = k % 16;
    uint32_t a = block[i], b = block[j];
    block[j] = ((b & k) | (a & ~k)) + k;
    block[i] = ((a & k) | (b & ~k)) + k;
  }
}

void CipherKey::DecipherBlock(uint32_t block[16], const uint32_t key[16]) {
  for (int i = 15; i >= 0; --i) {
    uint32_t k = key[i];
    uint32_t j = k % 16;
    uint32_t a = block[i] - k, b = block[j] - k;
    block[i] = (a & k) | (b & ~k);
    block[j] = (b & k) | (a & ~k);
  }
}

namespace {
template <bool kEncipher>
void Apply(uint8_t* data, size_t length, const uint32_t key[16]) {
  uint32_t words[16];
  for (size_t at = 0; at + 64 <= length; at += 64) {
    for (int w = 0; w < 16; ++w) words[w] = LoadU32(data + at + 4 * w);
    if constexpr (kEncipher)
      CipherKey::EncipherBlock(words, key);
    else
      CipherKey::DecipherBlock(words, key);
    for (int w = 0; w < 16; ++w) StoreU32(data + at + 4 * w, words[w]);
  }
}
}  // namespace

void CipherKey::Encipher(uint8_t* data, size_t length) const { Apply<true>(data, length, key_); }
void CipherKey::Decipher(uint8_t* data, size_t length) const { Apply<false>(data, length, key_); }

}  // namespace pr::store
