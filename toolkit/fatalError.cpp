#include "toolkit/fatalError.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

void fatalError(std::string_view message) {
    std::cout.flush();
    std::cerr << "error  :  " << message << '\n';
    std::cerr.flush();
    std::fflush(nullptr);
    // Straight out: the state that led here is not trusted to be torn down.
    std::_Exit(1);
}
