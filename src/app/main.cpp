// Kivo-Processor: unattended photo print processor.
#include <cstdio>

int main() {
  std::printf("Kivo-Processor %s\n", KIVO_VERSION);
  return 0;
}
