#include "loam/platform/zuPlatformConsole.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iostream>

#include "internal/zuPlatformStore.h"

namespace zuPlatform {
namespace {

std::atomic<Handle> g_input{STDIN_FILENO};
std::atomic<Handle> g_output{STDOUT_FILENO};

constexpr int kTimedOut = -3;
// Bytes of one escape sequence arrive together; a lone Escape key press is
// told apart by the silence after it.
constexpr int kSequenceGapMs = 100;
// A longer run of parameter bytes is no key but noise; give up on it.
constexpr int kMaxSequenceBytes = 32;

constexpr int kEscape = 27;
constexpr int kDelete = 127;
constexpr int kBackspace = 8;

// One byte, or kEnd at end of input or on an error, or kTimedOut when
// timeoutMs (>= 0) passed first.
int readOneByte(Handle fd, int timeoutMs) {
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready = store::pollFor(std::span<pollfd>(&p, 1), timeoutMs);
    if (ready < 0) return ConsoleKeyReader::kEnd;
    if (ready == 0) return kTimedOut;
    unsigned char byte = 0;
    const ssize_t n = store::retryOnSignal([&] { return ::read(fd, &byte, 1); });
    if (n == 1) return byte;
    if (n == 0) return ConsoleKeyReader::kEnd;
    if (errno == EAGAIN || errno == EWOULDBLOCK) continue;  // another reader was first
    return ConsoleKeyReader::kEnd;
  }
}

bool isControl(int byte) { return byte < 0x20 || byte == kDelete; }

}  // namespace

void writeConsole(const std::string& text) {
  std::cout.flush();
  std::fflush(stdout);
  const Handle fd = g_output.load();
  (void)store::writeAll(fd, text);
}

bool readConsoleLine(std::string& out, std::size_t maxChars) {
  out.clear();
  const Handle fd = g_input.load();
  bool any = false;
  // One byte over the limit is kept so a CR in front of the LF can be told
  // from content.
  for (;;) {
    const int byte = readOneByte(fd, -1);
    if (byte == ConsoleKeyReader::kEnd) break;
    any = true;
    if (byte == '\n') break;
    if (out.size() <= maxChars) out.push_back(static_cast<char>(byte));
  }
  if (!out.empty() && out.back() == '\r') out.pop_back();
  if (out.size() > maxChars) out.resize(maxChars);
  return any;
}

struct ConsoleKeyReader::Saved {
  termios settings{};
};

ConsoleKeyReader::ConsoleKeyReader() : fd_(g_input.load()) {
  auto saved = std::make_unique<Saved>();
  if (::tcgetattr(fd_, &saved->settings) != 0) return;  // not a terminal
  termios raw = saved->settings;
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_, TCSANOW, &raw) != 0) return;
  saved_ = std::move(saved);
}

ConsoleKeyReader::~ConsoleKeyReader() {
  if (saved_) ::tcsetattr(fd_, TCSANOW, &saved_->settings);
}

bool ConsoleKeyReader::isTerminal() const { return saved_ != nullptr; }

int ConsoleKeyReader::readByte(int timeoutMs) {
  if (pending_ >= 0) {
    const int byte = pending_;
    pending_ = -1;
    return byte;
  }
  return readOneByte(fd_, timeoutMs);
}

int ConsoleKeyReader::next() {
  const int byte = readByte(-1);
  if (byte == kDelete) return kBackspace;
  if (byte == 0) return kDropped;
  if (byte == kEscape) return skipEscapeSequence();
  return byte;
}

// After ESC: "[" parameters and a final byte (CSI), "O" and one byte (SS3),
// or one more byte (Alt with a key). A control byte is never part of a
// sequence (nor, inside CSI, a byte above 127); it is kept for the next key.
int ConsoleKeyReader::skipEscapeSequence() {
  const int gap = isTerminal() ? kSequenceGapMs : -1;
  auto keepIfControl = [this](int byte) {
    if (byte >= 0 && isControl(byte)) pending_ = byte;
  };
  const int first = readByte(gap);
  if (first < 0) return kDropped;
  if (isControl(first)) {
    pending_ = first;
    return kDropped;
  }
  if (first == 'O') {
    keepIfControl(readByte(gap));
    return kDropped;
  }
  if (first != '[') return kDropped;
  for (int count = 0; count < kMaxSequenceBytes; ++count) {
    const int byte = readByte(gap);
    if (byte < 0) break;
    if (isControl(byte) || byte >= 0x80) {
      pending_ = byte;  // not a sequence byte: it starts the next key
      break;
    }
    // The Linux console's function keys: ESC [ [ and one letter.
    if (count == 0 && byte == '[') {
      keepIfControl(readByte(gap));
      break;
    }
    if (byte >= 0x40) break;  // final byte
  }
  return kDropped;
}

ConsoleRedirect::ConsoleRedirect(Handle input, Handle output)
    : previousInput_(g_input.exchange(input)), previousOutput_(g_output.exchange(output)) {}

ConsoleRedirect::~ConsoleRedirect() {
  g_input.store(previousInput_);
  g_output.store(previousOutput_);
}

}  // namespace zuPlatform
