#pragma once

#include <string>

// The engine must not outlive the manager that started it: a manager killed with SIGKILL cannot stop
// it, and with a real OpenVPN behind it the tunnel would stay up. The engine takes the manager's death
// as a stop request (SIGTERM), by two ways that cover each other's gaps:
//  - the parent-death signal (Linux), with a check that closes the window before it was armed;
//  - the end of standard input, when that is a pipe or socket: the manager keeps its end open for as
//    long as it lives, whoever the engine's parent is by now.
namespace ParentWatch {

// startParent: getppid() as the very first thing main did. Returns false, with the reason, when the
// parent is already gone.
bool start(long startParent, std::string* reason);

} // namespace ParentWatch
