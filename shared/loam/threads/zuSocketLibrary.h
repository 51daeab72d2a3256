#pragma once
// The socket library's start-up count as the process frame sees it. The
// count itself belongs to the network layer, which is built above this one;
// it installs its start-up and clean-up here. Until it does, both succeed.
namespace zuSocketLibrary {

using Function = bool (*)();

// Null restores the default for that one.
void install(Function startup, Function cleanup);
bool startup();
bool cleanup();

}  // namespace zuSocketLibrary
