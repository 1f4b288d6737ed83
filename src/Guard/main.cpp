// zelto-guard: the optional root service that makes locked blocks hold against their user.
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("Usage: zelto-guard [--root DIR] [--socket PATH]\n");
      return 0;
    }
  }
  std::fprintf(stderr, "zelto-guard: not ready yet\n");
  return 1;
}
