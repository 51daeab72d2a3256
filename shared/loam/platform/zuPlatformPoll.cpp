#include "loam/platform/zuPlatformPoll.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "internal/zuPlatformStore.h"
#include "loam/platform/zuPlatformWait.h"

namespace zuPlatform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr u32 kSetLimit = 64;

// The events select() puts a descriptor in each set for.
constexpr short kReadableEvents = POLLIN | POLLRDNORM | POLLRDBAND | POLLHUP | POLLERR;
constexpr short kWritableEvents = POLLOUT | POLLWRNORM | POLLWRBAND | POLLERR;
constexpr short kExceptionalEvents = POLLPRI;

struct Watched {
  pollfd fd{};
  u16 kinds = 0;  // the sets the socket was entered in
};

Watched* find(std::vector<Watched>& watched, i32 socket) {
  for (Watched& w : watched)
    if (w.fd.fd == socket) return &w;
  return nullptr;
}

// Each socket once, entered per kind while that kind has room.
std::vector<Watched> buildSets(std::span<const PollEntry> entries) {
  std::vector<Watched> watched;
  u32 counts[3] = {0, 0, 0};
  const u16 kinds[3] = {kPollReadable, kPollWritable, kPollExceptional};
  for (const PollEntry& e : entries) {
    if (e.socket < 0) continue;
    for (int k = 0; k < 3; ++k) {
      if (!(e.wanted & kinds[k])) continue;
      Watched* w = find(watched, e.socket);
      if (w && (w->kinds & kinds[k])) continue;
      if (counts[k] == kSetLimit) continue;
      if (!w) {
        watched.push_back(Watched{pollfd{e.socket, 0, 0}, 0});
        w = &watched.back();
      }
      w->kinds = static_cast<u16>(w->kinds | kinds[k]);
      ++counts[k];
    }
  }
  for (Watched& w : watched) {
    short events = 0;
    if (w.kinds & kPollReadable) events = static_cast<short>(events | POLLIN);
    if (w.kinds & kPollWritable) events = static_cast<short>(events | POLLOUT);
    if (w.kinds & kPollExceptional) events = static_cast<short>(events | POLLPRI);
    w.fd.events = events;
  }
  return watched;
}

u16 readyKinds(const Watched& w) {
  const short r = w.fd.revents;
  u16 kinds = 0;
  if ((w.kinds & kPollReadable) && (r & kReadableEvents)) kinds |= kPollReadable;
  if ((w.kinds & kPollWritable) && (r & kWritableEvents)) kinds |= kPollWritable;
  if ((w.kinds & kPollExceptional) && (r & kExceptionalEvents)) kinds |= kPollExceptional;
  return kinds;
}

}  // namespace

u16 pollSockets(std::span<PollEntry> entries, u32 ms) {
  for (PollEntry& e : entries) e.returned = 0;
  std::vector<Watched> watched = buildSets(entries);
  std::vector<pollfd> fds;
  fds.reserve(watched.size());
  for (const Watched& w : watched) fds.push_back(w.fd);
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const int slice = pollSlice(ms, end);
    const int n = store::pollFor(fds, slice);
    if (n < 0) return kPollFailed;
    if (n > 0) {
      u16 result = 0;
      for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents & POLLNVAL) return kPollFailed;
        watched[i].fd.revents = fds[i].revents;
        const u16 kinds = readyKinds(watched[i]);
        // poll() always reports a hang-up or an error; one that matches none
        // of the socket's sets would end every later wait at once, so the
        // socket leaves the wait.
        if (fds[i].revents != 0 && kinds == 0) fds[i].fd = -1;
        if (kinds == 0) continue;
        for (PollEntry& e : entries) {
          if (e.socket != watched[i].fd.fd) continue;
          e.returned = static_cast<u16>(e.returned | kinds);
          result = static_cast<u16>(result | kinds);
        }
      }
      if (result != 0) return result;
    }
    if (ms != kWaitForever && Clock::now() >= end) return 0;
  }
}

}  // namespace zuPlatform
