// A small program on the process frame, started as a child by the frame's
// tests. Each phase writes a line to the console log (standard error); the
// words "wait", "crash" and "terminate" choose what its main work does.
#include <stdexcept>
#include <string>
#include <thread>

#include "loam/threads/zuLog.h"
#include "loam/threads/zuProcess.h"
#include "loam/threads/zuThread.h"

namespace {

class FrameMain : public zuProcess {
 public:
  bool parseArguments(std::vector<zuOption>& options) override {
    for (zuOption& option : options) {
      if (option.text == "wait" || option.text == "crash" || option.text == "terminate") {
        mode_ = option.text;
        option.consumed = true;
      }
    }
    return zuProcess::parseArguments(options);
  }
  void initialize() override { zuLog::write(1, "initialize"); }
  void main() override {
    zuLog::write(1, "main");
    if (mode_ == "crash") __builtin_trap();
    if (mode_ == "terminate")
      std::thread([] { throw std::runtime_error("nobody catches this"); }).join();
    if (mode_ == "wait") {
      zuLog::write(1, "waiting");
      while (!isStopRequested()) zuThread::waitForObjects(0xFFFFFFFF, stopEvent());
      zuLog::write(1, "main ended");
    }
  }
  void cleanup() override { zuLog::write(1, "cleanup"); }

 private:
  std::string mode_;
};

}  // namespace

int main(int argc, char** argv) {
  FrameMain frame;
  return static_cast<int>(frame.run(static_cast<u32>(argc), argv));
}
