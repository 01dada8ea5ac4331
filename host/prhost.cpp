#include <cstdio>
int main() {
  std::puts("prhost");
  return 0;
}
