#pragma once

#include <dlfcn.h>

namespace quorvel {

// One function of a library loaded with dlopen, into a typed pointer; false when it is missing.
template <typename Function>
bool resolveSymbol(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

} // namespace quorvel
