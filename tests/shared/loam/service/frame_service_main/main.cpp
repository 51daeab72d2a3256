// A small service on the frame, installed, started and stopped by the
// frame's tests. Its phases log one line each at level 1: to standard error in
// the console run, to the event log as a service. When a FIFO named
// "cleanup.hold" lies in the working folder, cleanup waits until a line or
// the end comes through it, so a test can look at the service mid-stop.
#include <fstream>
#include <string>

#include "loam/service/zuNTService.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuThread.h"

namespace {

class FrameService : public zuNTService {
 public:
  void initialize() override { zuLog::write(1, "initialize"); }
  void main() override {
    zuLog::write(1, "waiting");
    while (!isStopRequested()) zuThread::waitForObjects(0xFFFFFFFF, stopEvent());
    zuLog::write(1, "main ended");
  }
  void cleanup() override {
    if (std::ifstream hold{"cleanup.hold"}) {
      std::string line;
      std::getline(hold, line);
    }
    zuLog::write(1, "cleanup");
  }
};

}  // namespace

int main(int argc, char** argv) {
  FrameService service;
  return static_cast<int>(service.run(static_cast<u32>(argc), argv));
}
