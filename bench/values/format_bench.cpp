// Formats per second of compiled pictures, and a count of heap allocations on
// the hot path (which must be zero).  Usage: bench_values [iterations]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "values/date_time.h"
#include "values/format.h"
#include "values/locale.h"
#include "values/picture.h"

namespace {
size_t g_allocations = 0;
}

void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using pr::values::Picture;
using pr::values::Value;

template <typename Body>
void Measure(const char* name, long iterations, Body body) {
  size_t before = g_allocations;
  auto start = std::chrono::steady_clock::now();
  unsigned checksum = 0;
  for (long i = 0; i < iterations; ++i) checksum += body(i);
  auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-28s %12.0f per second  (%ld in %.3f s, allocations %zu, checksum %u)\n", name,
              iterations / elapsed, iterations, elapsed, g_allocations - before, checksum);
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = argc > 1 ? std::atol(argv[1]) : 2000000;
  if (iterations <= 0) iterations = 2000000;
  pr::values::Locale();  // load once, outside the measurement
  Picture number, date, decimal;
  pr::values::CompilePicture("@n-14", &number);
  pr::values::CompilePicture("@d6", &date);
  pr::values::CompilePicture("@n-14.2", &decimal);
  const int32_t firstDay = pr::values::MakeDate(1990, 1, 1);
  char out[32];

  Measure("format @n-14 (LONG)", iterations, [&](long i) {
    pr::values::FormatInto(number, Value::Long(i * 7919 - 5000000), out, sizeof out);
    return static_cast<unsigned>(out[13]);
  });
  Measure("format @n-14.2 (REAL)", iterations, [&](long i) {
    pr::values::FormatInto(decimal, Value::Real(i * 0.37 - 1000.0), out, sizeof out);
    return static_cast<unsigned>(out[13]);
  });
  Measure("format @d6 (DATE)", iterations, [&](long i) {
    pr::values::FormatInto(date, Value::Long(firstDay + i % 20000), out, sizeof out);
    return static_cast<unsigned>(out[9]);
  });
  Measure("deformat @n-14", iterations, [&](long) {
    Value v;
    pr::values::Deformat(number, "    -1,234,567", &v);
    return static_cast<unsigned>(v.text().size());
  });
  Measure("deformat @d6", iterations, [&](long) {
    Value v;
    pr::values::Deformat(date, " 5/01/2004", &v);
    return static_cast<unsigned>(v.AsLong());
  });
  return 0;
}
