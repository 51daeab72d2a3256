// The update agent's entry: one agent server, run with the command line.
#include "update_agent/uaServer.h"

int main(int argc, char** argv) {
  try {
    uaServer server;
    return static_cast<int>(server.run(static_cast<u32>(argc), argv));
  } catch (...) {
    // The server has been destroyed by now; the process still ends on it.
    throw;
  }
}
