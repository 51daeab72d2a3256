// Arbitrary packets from a peer, fed to a connection handler that serves the
// agent's two response types (Connect and Upgrade, with every signature
// refused so nothing is installed). The input is a run of packets, each a
// 16-bit big-endian length and that many payload bytes (header and chunk);
// the harness frames them as the packet layer would. Whatever they hold, the
// handler must end when the connection does, with every exchange gone and
// nothing left in the temporary folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "loam/net/zuScriptedEndpoint.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/threads/zuLog.h"
#include "update_agent/uaNResUpgrade.h"
#include "update_agent/uaServer.h"

namespace {

bool quiet(u32, const char*) { return true; }

const std::filesystem::path& tempFolder() {
  static const std::filesystem::path folder = [] {
    const std::filesystem::path p =
        std::filesystem::temp_directory_path() / "zuNetObjectHandlerFuzz";
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    ::setenv("TMPDIR", p.string().c_str(), 1);
    uaNResUpgrade::setVerifier([](const std::string&, const std::string&) { return false; });
    zuLog::addListener(&quiet);
    return p;
  }();
  return folder;
}

std::string frame(const uint8_t* payload, size_t n) {
  std::string f(1, '<');
  for (int shift = 24; shift >= 0; shift -= 8) f += static_cast<char>((n >> shift) & 0xFF);
  f.append(reinterpret_cast<const char*>(payload), n);
  f += '>';
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& folder = tempFolder();
  auto endpoint = std::make_unique<zuScriptedEndpoint>();
  for (size_t at = 0; at + 2 <= size;) {
    const size_t n =
        std::min<size_t>(static_cast<size_t>(data[at] << 8 | data[at + 1]), size - at - 2);
    endpoint->addBytes(frame(data + at + 2, n));
    at += 2 + n;
  }
  {
    zuNetObjectHandler handler(nullptr, std::move(endpoint), false);
    zuNetResponseFactoryMap factories;
    factories[2] = &uaServer::createNResConnect;
    factories[1] = &uaServer::createNResUpgrade;
    handler.setFactories(factories);
    handler.start();
    // The script ends with a broken connection, which ends the handler.
    handler.wait();
    if (handler.state() != zuThread::kStateEnded) __builtin_trap();
  }
  if (!std::filesystem::is_empty(folder)) __builtin_trap();
  return 0;
}
