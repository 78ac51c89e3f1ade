#pragma once

namespace demo {

// Installs the status shell through its C functions, feeds it a simulated recording on a GLib timer
// (ready, starting, recording with a growing upload backlog, an update appearing, paused,
// uploading, ready) and prints every command code it receives. The caller iterates GLib's default
// main context on the main thread.
void startDemoShell();

} // namespace demo
