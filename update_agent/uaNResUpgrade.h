#pragma once
// The agent's answer to an Upgrade request (type 1): stores the file that
// came with the request in the temporary folder, checks its signature and
// installs it by the request's kind. The work runs on the response's own
// thread, so a long installation never blocks the connection.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "loam/netobjects/zuThreadedNetResponse.h"
#include "loam/platform/zuTypes.h"

class zuEvent;

class uaNResUpgrade : public zuThreadedNetResponse {
 public:
  // Installation kinds; every other value runs the file as a program.
  static constexpr u8 kKindProgram = 0;
  static constexpr u8 kKindService = 1;
  static constexpr u8 kKindInstaller = 2;

  static constexpr u32 kMaxFileSize = 26214400;
  static constexpr u32 kRunWaitMs = 300000;
  // Given to a stopped service before its executable is replaced.
  static constexpr u32 kServiceStopPauseMs = 5000;
  static constexpr const char* kAgentServiceName = "Tarnwell Update Agent";
  static constexpr const char* kUpgradeScript = "doUpgrade.bat";
  // The private folder that each request's file is stored in begins so.
  static constexpr const char* kFolderPrefix = "ua-upgrade-";

  // Checks a stored file against the request's signature text.
  using Verifier = std::function<bool(const std::string& path, const std::string& signature)>;
  // Replaces the check for every response (an empty one restores the
  // built-in key's); returns the previous one. Lets tests sign with keys of
  // their own.
  static Verifier setVerifier(Verifier verifier);

  // Removes the private folders that agents killed in the middle of an
  // upgrade left in the temporary folder.
  static void removeStaleFolders();

  // "{", one or more hex digits and hyphens, "}": all that an installer
  // package's argument may be.
  static bool isProductCode(const std::string& text);

  uaNResUpgrade();
  // Stops the work, then deletes the received file (unless the self-update
  // script took it) and removes the work folder.
  ~uaNResUpgrade() override;

  u8 getType() const override;
  const char* getTypeName() const override;
  const char* getName() const override;
  // Served before any login.
  bool requiresAuthority() const override;

  // Room for the request's strings in front of the file's bytes.
  static constexpr std::size_t kHeaderRoom = 65536;
  // The largest file plus its header strings; once the head has arrived,
  // the head and the size it states.
  std::size_t maxGatheredBytes() const override;
  // Past the stated size: 772 with the unexpected-data text.
  void setGatheringLimitError() override;
  // Checks the head as soon as it has arrived, rather than after the whole
  // file: a file name that is not plain, a too large size field, more bytes
  // than the size states or a head that does not fit its room end the
  // exchange with 772.
  u16 receiveData(const u8* data, u32 length, bool last) override;

  u16 run(zuNetReader& reader) override;

  const std::string& receivedFilePath() const { return receivedPath_; }

 private:
  // The fields in front of the file's bytes, once they have all arrived.
  struct Head {
    u8 kind = 0;
    std::string fileName;
    std::string argument;
    std::string signature;
    u32 size = 0;
  };
  static Head readHead(zuNetReader& reader);
  // The head, once all of it has arrived; headBytes, when given, its length.
  std::optional<Head> gatheredHead(std::size_t* headBytes = nullptr) const;
  u16 failTooLarge(const std::string& fileName);
  // The checks of the head that come before anything is logged about it: 0
  // or 772 (logged, the name escaped).
  u16 checkHead(const Head& head);
  // Sets the error, logs it and returns the code.
  u16 fail(u16 code, const char* text);
  u16 fail(u16 code, const char* text, char key, const std::string& value);
  u16 storeFile(zuNetReader& reader, u8 kind, const std::string& fileName, u32 size);
  void runInstaller(const std::string& argument, zuEvent* stop);
  u16 replaceServiceExecutable(const std::string& serviceName, zuEvent* stop);
  u16 startSelfUpgrade(const std::string& executable);
  void runProgram(const std::string& argument, zuEvent* stop);

  std::string receivedPath_;
  std::string workFolder_;
  // Head and stated size, once the head has arrived; 0 before.
  std::size_t statedBytes_ = 0;
};
