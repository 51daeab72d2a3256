#include "loam/threads/zuExec.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "loam/platform/zuPlatformPipe.h"
#include "loam/platform/zuPlatformProcess.h"
#include "loam/platform/zuPlatformWait.h"
#include "loam/threads/zuMultiEvent.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"

namespace {

// The end of a time limit given in ms, 0xFFFFFFFF meaning none.
class Deadline {
 public:
  explicit Deadline(u32 ms) : forever_(ms == zuPlatform::kWaitForever) {
    if (!forever_) end_ = Clock::now() + std::chrono::milliseconds(ms);
  }
  u32 left() const {
    if (forever_) return zuPlatform::kWaitForever;
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
    if (rest <= 0) return 0;
    return static_cast<u32>(std::min<long long>(rest, zuPlatform::kWaitForever - 1));
  }
  bool passed() const { return left() == 0; }

 private:
  using Clock = std::chrono::steady_clock;
  bool forever_;
  Clock::time_point end_{};
};

// Waits on the handles and the events' handles; index of the first
// signalled handle, kWaitTimeout or kWaitFailed.
i32 waitFor(std::vector<zuPlatform::Handle> handles, zuEvent* events, u32 ms) {
  if (events) events->collectHandles(handles);
  return zuPlatform::waitForAny(handles, ms);
}

char partnerOf(char lineEnd) { return lineEnd == '\r' ? '\n' : '\r'; }

}  // namespace

zuExec::~zuExec() {
  closeHandles();
  releaseProcess();
}

void zuExec::closeHandle(zuPlatform::Handle& handle) {
  if (zuPlatform::isValidHandle(handle)) {
    zuPlatform::closeHandle(handle);
    handle = zuPlatform::kInvalidHandle;
  }
}

void zuExec::closeHandles() {
  closeHandle(childOutput_);
  closeHandle(childInput_);
  closeHandle(parentInput_);
  closeHandle(parentOutput_);
}

void zuExec::closeInputHandles() {
  closeHandle(childInput_);
  closeHandle(parentInput_);
}

void zuExec::releaseProcess() {
  zuPlatform::closeProcess(process_);
  process_ = zuPlatform::kInvalidHandle;
  processId_ = 0;
  threadId_ = 0;
}

bool zuExec::createOutputPipe() {
  zuPlatform::Handle readEnd = zuPlatform::kInvalidHandle;
  zuPlatform::Handle writeEnd = zuPlatform::kInvalidHandle;
  const u32 err =
      zuPlatform::createPipe(readEnd, writeEnd, std::max(outputPipeSize_, kMinPipeSize));
  if (err != 0) {
    status_ = err;
    return false;
  }
  closeHandle(childOutput_);
  closeHandle(parentOutput_);
  childOutput_ = writeEnd;
  parentOutput_ = readEnd;
  outputClosed_ = false;
  pendingLineEnd_ = 0;
  return true;
}

bool zuExec::createInputPipe() {
  zuPlatform::Handle readEnd = zuPlatform::kInvalidHandle;
  zuPlatform::Handle writeEnd = zuPlatform::kInvalidHandle;
  const u32 err = zuPlatform::createPipe(readEnd, writeEnd, std::max(inputPipeSize_, kMinPipeSize));
  if (err != 0) {
    status_ = err;
    return false;
  }
  closeInputHandles();
  childInput_ = readEnd;
  parentInput_ = writeEnd;
  return true;
}

bool zuExec::start(const std::string& program, const std::string& arguments) {
  status_ = 0;
  commandLine_ = program;
  if (!arguments.empty()) {
    commandLine_ += ' ';
    commandLine_ += arguments;
  }
  // A child still held from an earlier start is let go, not leaked.
  releaseProcess();
  zuPlatform::ProcessInfo info;
  const u32 err = zuPlatform::startProcess(commandLine_, childInput_, childOutput_, info);
  if (err != 0) {
    status_ = err;
    return false;
  }
  process_ = info.process;
  processId_ = info.processId;
  threadId_ = info.threadId;
  return true;
}

bool zuExec::wait(u32 ms, zuEvent* stop) {
  if (!zuPlatform::isValidHandle(process_)) return true;
  bool timedOut = false;
  {
    zuSingleEvent child(process_, false);
    zuMultiEvent events(&child, stop);
    timedOut = zuThread::waitForObjects(ms, &events);
  }
  u32 code = 0;
  u32 err = 0;
  status_ = zuPlatform::processExitCode(process_, code, err) ? code : err;
  releaseProcess();
  return !timedOut;
}

bool zuExec::runAndWait(const std::string& program, const std::string& arguments, zuEvent* stop) {
  if (!start(program, arguments)) return false;
  return wait(kRunAndWaitMs, stop);
}

bool zuExec::runToFile(const std::string& program, const std::string& arguments,
                       const std::string& outputPath, u32 ms, zuEvent* stop) {
  closeHandle(childOutput_);
  const u32 err = zuPlatform::createOutputFile(outputPath, childOutput_);
  if (err != 0) {
    status_ = err;
    return false;
  }
  bool result = false;
  if (start(program, arguments)) result = wait(ms, stop);
  closeHandles();
  return result;
}

bool zuExec::runCapture(const std::string& program, const std::string& arguments, std::ostream& out,
                        u32 ms, zuEvent* stop) {
  const Deadline deadline(ms);
  if (!createOutputPipe() || !start(program, arguments)) {
    closeHandles();
    return false;
  }
  // Only the child holds the write end now, so the pipe ends when it does.
  closeHandle(childOutput_);
  std::vector<char> block(kReadBlockSize);
  for (;;) {
    if ((stop && stop->isSet()) || deadline.passed()) break;
    u32 length = kReadBlockSize;
    if (!readOutput(block.data(), length, deadline.left(), stop)) break;
    out.write(block.data(), static_cast<std::streamsize>(length));
  }
  out.put('\0');
  closeHandles();
  return wait(deadline.left(), stop);
}

bool zuExec::runWithPipes(const std::string& program, const std::string& arguments) {
  if (!createOutputPipe() || !createInputPipe() || !start(program, arguments)) {
    closeHandles();
    return false;
  }
  // The child holds its ends now. Keeping the parent's copies would hide its
  // end: a write would fill the pipe and block instead of failing, and the
  // output would never reach its end.
  closeHandle(childOutput_);
  closeHandle(childInput_);
  return true;
}

bool zuExec::write(const void* data, u32 length) {
  if (!zuPlatform::isValidHandle(parentInput_)) {
    status_ = zuPlatform::kPipeErrorNoData;
    return false;
  }
  u32 written = 0;
  const u32 err = zuPlatform::writeHandle(parentInput_, data, length, written);
  if (err != 0) {
    status_ = err;
    return false;
  }
  return written == length;
}

bool zuExec::isRunning() {
  if (!zuPlatform::isValidHandle(process_)) return false;
  u32 code = 0;
  u32 err = 0;
  if (!zuPlatform::processExitCode(process_, code, err)) {
    status_ = err;
    return false;
  }
  if (code == kStillActive) return true;
  status_ = code;
  return false;
}

u32 zuExec::normalise(char* bytes, u32 count) {
  u32 in = 0;
  u32 out = 0;
  if (pendingLineEnd_ != 0 && count > 0 && bytes[0] == partnerOf(pendingLineEnd_)) in = 1;
  pendingLineEnd_ = 0;
  while (in < count) {
    const char c = bytes[in++];
    if (c != '\r' && c != '\n') {
      bytes[out++] = c;
      continue;
    }
    bytes[out++] = '\n';
    if (in == count)
      pendingLineEnd_ = c;
    else if (bytes[in] == partnerOf(c))
      ++in;
  }
  return out;
}

bool zuExec::readOutput(void* buffer, u32& length, u32 ms, zuEvent* stop) {
  const u32 room = length;
  length = 0;
  if (!zuPlatform::isValidHandle(parentOutput_) || room == 0) return false;
  char* bytes = static_cast<char*>(buffer);
  const Deadline deadline(ms);
  bool pipeWoke = false;
  for (;;) {
    // Looked at before the pipe: once the child has ended, all it wrote is
    // in the pipe, so an empty pipe then really is the end.
    const bool ended = !isRunning();
    u32 waiting = 0;
    if (!outputClosed_) {
      const u32 err = zuPlatform::pipeBytesWaiting(parentOutput_, waiting);
      if (err != 0) {
        status_ = err;
        return false;
      }
      // Ready without data: every writer has gone; poll would report that
      // at once for ever, so the pipe leaves the wait.
      if (waiting == 0 && pipeWoke) outputClosed_ = true;
    }
    pipeWoke = false;
    if (waiting > 0) {
      u32 got = 0;
      const u32 err = zuPlatform::readHandle(parentOutput_, bytes, std::min(waiting, room), got);
      if (err != 0) {
        status_ = err;
        return false;
      }
      length = normalise(bytes, got);
      if (length > 0) return true;
      continue;  // only the second half of a line-end pair came
    }
    if (ended) return false;
    if ((stop && stop->isSet()) || deadline.passed()) return true;
    std::vector<zuPlatform::Handle> handles{
        outputClosed_ ? zuPlatform::kInvalidHandle : parentOutput_, process_};
    const i32 woke = waitFor(std::move(handles), stop, deadline.left());
    if (woke == zuPlatform::kWaitFailed) {
      status_ = zuPlatform::kErrorInvalidHandle;
      return false;
    }
    pipeWoke = woke == 0;
  }
}
