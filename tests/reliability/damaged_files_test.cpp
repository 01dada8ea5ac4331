// Damaged files: variants of a valid file with flipped bits in the header
// and in pages, truncated, or overwritten with garbage.  Each is opened, read
// both ways and changed in a child process with an alarm; the child must end
// with error 36 at open, in the driver error box (caught by the store's
// replaceable fatal handler), or after reading the file consistently: never a
// signal, a hang or a sanitizer report.
#include <cstdio>
#include <random>

#include "tests/reliability/reliability_support.h"
#include "tests/store/container_test_util.h"

namespace pr::reliability {
namespace {

// Exit codes of the child.  A scan may stop with an error code of its own (a
// key whose record a damaged page lost reads as 35): a clear error, counted.
enum Outcome { kRefused36 = 10, kDriverBox = 11, kReadToTheEnd = 12, kReadStopped = 13, kOtherOpenError = 14, kBadRead = 15 };

void ExitFromBox(int, const char*) { _exit(kDriverBox); }

int OpenAndRead(const std::string& path) {
  alarm(10);
  store::SetFatalHandler(ExitFromBox);
  PartnerFile file(path);
  int rc = file.Open();
  if (rc == 36) return kRefused36;
  if (rc != 0) return kOtherOpenError;
  if (file.Run(files::OP_SETkey, file.IdKey()) != 0) return kBadRead;
  // Pages carry no checksum: a flipped bit inside a record's data reads as
  // other data.  What must hold is that the scan ends.
  int count = 0;
  while ((rc = file.Run(files::OP_NEXT)) == 0)
    if (++count > 100000) return kBadRead;
  // 90 is the file system error a damaged page reports outside the box.
  const int outcome = rc == 33 ? kReadToTheEnd : kReadStopped;
  // Then back through the other key, and changes: whatever they answer, they
  // must end (a damaged tree may refuse them with an error code).
  if (file.Run(files::OP_SETkey, file.NameKey()) != 0) return kBadRead;
  count = 0;
  while (file.Run(files::OP_PREVIOUS) == 0)
    if (++count > 100000) return kBadRead;
  for (int32_t id = 1; id <= 400; id += 57) {
    if (file.GetById(id) != 0) continue;
    file.Set(id, "changed " + std::to_string(id));
    file.Run(files::OP_PUT);
    if (id % 2 == 0) file.Run(files::OP_DELETE);
  }
  for (int32_t id = 401; id <= 420; ++id) file.Add(id, "added " + std::to_string(id));
  return outcome;
}

TEST(DamagedFiles, EveryVariantIsRefusedOrReadNeverCrashes) {
  const std::string dir = store::testing::MakeTempDir();
  const std::string path = dir + "/DAMAGED";
  {
    PartnerFile file(path);
    ASSERT_EQ(file.Open(), 0);
    ASSERT_EQ(file.Run(files::OP_LOGOUT), 0);
    for (int id = 1; id <= 400; ++id) ASSERT_EQ(file.Add(id, "partner " + std::to_string(id * 7919)), 0);
    ASSERT_EQ(file.Run(files::OP_COMMIT), 0);
    ASSERT_EQ(file.Close(), 0);
  }
  const std::vector<uint8_t> valid = store::testing::ReadWholeFile(path + ".TWL");
  ASSERT_GT(valid.size(), 2048u);

  const int variants = Trials(500);
  std::mt19937 rng(15);
  int outcomes[16] = {};
  for (int v = 0; v < variants; ++v) {
    std::vector<uint8_t> bytes = valid;
    const char* kind = "";
    switch (v % 5) {
      case 0:  // header bits
        kind = "header bit flips";
        for (int i = 1 + rng() % 3; i > 0; --i) bytes[rng() % 64] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 1:  // page bits
        kind = "page bit flips";
        for (int i = 1 + rng() % 4; i > 0; --i)
          bytes[64 + rng() % (bytes.size() - 64)] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 2:  // truncation, on or off a block boundary
        kind = "truncation";
        bytes.resize(rng() % 2 ? (rng() % (bytes.size() / 64)) * 64 : rng() % bytes.size());
        break;
      case 3: {  // a block of garbage
        kind = "garbage block";
        size_t at = (rng() % (bytes.size() / 64)) * 64;
        for (size_t i = at; i < std::min(bytes.size(), at + 64 + rng() % 512); ++i) bytes[i] = static_cast<uint8_t>(rng());
        break;
      }
      default:  // header and one page both touched
        kind = "header and page";
        bytes[rng() % 64] = static_cast<uint8_t>(rng());
        bytes[64 + rng() % (bytes.size() - 64)] = static_cast<uint8_t>(rng());
        break;
    }
    store::testing::WriteWholeFile(path + ".TWL", bytes);
    pid_t child = fork();
    if (child == 0) _exit(OpenAndRead(path));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "variant " << v << " (" << kind << "): signal " << WTERMSIG(status);
    int code = WEXITSTATUS(status);
    ASSERT_TRUE(code >= kRefused36 && code <= kOtherOpenError)
        << "variant " << v << " (" << kind << "): exit " << code;
    ++outcomes[code];
  }
  std::printf("%d variants: %d refused with 36, %d driver error box, %d read to the end, %d read stopped with an "
              "error, %d refused with another open error\n",
              variants, outcomes[kRefused36], outcomes[kDriverBox], outcomes[kReadToTheEnd], outcomes[kReadStopped],
              outcomes[kOtherOpenError]);
}

}  // namespace
}  // namespace pr::reliability
