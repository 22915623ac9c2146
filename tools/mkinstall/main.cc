// qv-mkinstall: lays out a Quorvia installation in a folder.
#include <iostream>
#include <string>
#include <vector>

#include "mkinstall/command.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return qv::mkinstall::RunMkinstall(args, std::cout, std::cerr);
}
