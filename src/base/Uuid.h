#pragma once

#include <string>

namespace quorvel {

// A fresh random (version 4) UUID in canonical upper-case text form, 8-4-4-4-12 hex digits.
std::string randomUuidString();

} // namespace quorvel
