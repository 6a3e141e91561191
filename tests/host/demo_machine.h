// A machine that holds a complete leftover install of the product: what the
// whole-run tests start from (and what the demo plants under Wine).
#pragma once

namespace demo {

// Uninstall entries, folders, setup caches, management keys with their
// Version subkey, provider keys, a Java runtime with the five archives, the
// Start-menu folder and the Startup shortcut; in both views on a 64-bit
// machine, in the one view on a 32-bit machine.
void PlantFullInstall(bool is64);

// Makes the simulated machine 32-bit (one registry view, no x86 folder).
void MakeMachine32();

}  // namespace demo
