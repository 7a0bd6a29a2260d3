#pragma once
// The toolkit's way to give up on a condition that must not happen: one line
// "error  :  <message>" on the standard error stream, then exit status 1.

#include <string_view>

[[noreturn]] void fatalError(std::string_view message);
