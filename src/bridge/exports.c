/* The library's exported functions are defined by the subsystems linked into it; this unit only
 * makes sure the public header compiles as C on every build. */
#include "quorvel_shell_bridge.h"
