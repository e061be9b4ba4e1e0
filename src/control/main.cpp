#include <iostream>

#include "control/command_line.h"

int main(int argc, char** argv) { return runCommandLine(argc, argv, std::cin); }
