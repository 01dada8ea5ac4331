// Shows one message box in the terminal and writes "result N" to the file
// named by the first argument (standard output is the terminal).
#include <cstdio>

#include "ui/message.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  if (!InitWindowSystem(WindowBackend::Terminal, nullptr)) return 3;
  // Windows-1250: "Ne moš brisat Zvirku, čovječe!" captioned "Greška".
  int result = pr::ui::Message("Ne mo\x9A brisat Zvirku, \xE8ovje\xE8" "e!", "Gre\x9A" "ka",
                               std::string_view("\xFF\x01\x02\x7F", 4), "&Yes|&No", 1, 0);
  ShutdownWindowSystem();
  FILE* out = std::fopen(argv[1], "w");
  if (!out) return 4;
  std::fprintf(out, "result %d\n", result);
  std::fclose(out);
  return 0;
}
