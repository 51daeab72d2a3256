#pragma once
// The allocation guard: from before the first global object is built until
// after the last one is destroyed, every failed operator new throws
// std::bad_alloc whose what() is "bad allocation".
//
// On Windows the guard also sets new-mode 1 so that malloc calls the handler
// too; the C library here has no such mode, so library code takes raw blocks
// only through zuAlloc, which throws, and never from malloc directly.
//
// The guard is installed from the program's pre-initialisation hook, which
// runs before the constructors of every shared library (Crypto++ included),
// and restored by the first exit handler registered, so after every global
// destructor of the program and of the libraries it loaded at start. Its own
// construction slot installs it in case the hook did not run (a program that
// loads the library as a shared object). Not covered: allocations inside the
// dynamic loader and libstdc++ themselves, and libraries opened later with
// dlopen, whose destructors may run after the guard is gone; those still get
// the standard std::bad_alloc, only with another what() text.
#include <new>

// The new-handler: throws std::bad_alloc with the text "bad allocation".
[[noreturn]] void zuThrowBadAlloc();

// Every program references this (the build adds -Wl,--undefined for it), so
// the guard is linked in even when nothing else names it.
extern "C" const char zuAllocGuardLinked;
