#include <iostream>

#include "control/dialogue.h"

int main() { return runTestDialogue(std::cin); }
