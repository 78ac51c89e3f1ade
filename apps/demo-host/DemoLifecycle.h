#pragma once

#include <string>
#include <vector>

// Installs the lifecycle monitor; every code it delivers is printed on standard output as
// "lifecycle code=N (name) detail=D". Call on the main thread before the main loop runs.
void startDemoLifecycle();

// The hand-off of a second copy: when the arguments hold "--focus-existing", asks the running copy
// to come forward, prints "lifecycle focus-existing posted" and returns true (main then exits
// without starting anything else); otherwise does nothing and returns false.
bool handleDemoFocusExisting(const std::vector<std::string>& arguments);
