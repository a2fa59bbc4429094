#include <cstdio>

int main() {
  std::puts("Update Routine: the window is not built yet.");
  return 0;
}
