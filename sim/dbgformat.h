// printf-style formatting with the target's type sizes: int and long are
// both 32 bits, as in the 32-bit kernel the driver's messages are written for.
#pragma once

#include <cstdarg>
#include <string>

namespace sim {

std::string formatTarget(const char* format, va_list args);

}  // namespace sim
