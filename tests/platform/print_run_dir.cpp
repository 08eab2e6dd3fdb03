// Prints the run directory this program sees; files_test runs copies of it.
#include <iostream>

#include "platform/files.h"

int main() { std::cout << vellora::RunDirectory().string() << '\n'; }
