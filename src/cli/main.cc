#include <iostream>

int main(int argc, char** argv) {
  std::cerr << "usage: tessaly COMMAND ...\n";
  return 2;
}
