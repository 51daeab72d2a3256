// The update agent's entry: one agent server, run with the command line.
#include <exception>
#include <string>

#include "loam/base/zuException.h"
#include "loam/base/zuMessage.h"
#include "loam/base/zuMessageTexts.h"
#include "loam/threads/zuLog.h"
#include "update_agent/uaServer.h"

int main(int argc, char** argv) {
  // Whatever escapes the run (the server is destroyed by then) is logged and
  // ends the process with a status, not through std::terminate.
  try {
    uaServer server;
    return static_cast<int>(server.run(static_cast<u32>(argc), argv));
  } catch (const zuException& e) {
    zuLog::log(0, e.message());
  } catch (const std::exception& e) {
    zuLog::log(0, zuMessage(kzuUnexpectedExceptionText, 'e', std::string(e.what())));
  } catch (...) {
    zuLog::log(0, zuMessage(kzuUnexpectedExceptionText, 'e', std::string("unknown")));
  }
  return kzuCodeInternalError;
}
