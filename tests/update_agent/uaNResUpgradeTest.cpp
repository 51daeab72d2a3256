// Upgrade requests carry files signed with openssl under a key made for the
// test run; "msiexec" and "cmd" are stand-in scripts on a private PATH that
// record the arguments they were given.
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "loam/base/zuFile.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetReqAgentUpgrade.h"
#include "loam/netobjects/zuNetReader.h"
#include "loam/service/zuServiceManager.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuSingleEvent.h"
#include "loam/threads/zuThread.h"
#include "support/ExternalTool.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"
#include "update_agent/uaNResUpgrade.h"
#include "update_agent/uaVerifyUpgradeFile.h"

namespace fs = std::filesystem;

namespace {

using tw::test::ErrorLines;
using tw::test::readFileBytes;
using tw::test::ReplyRequest;
using tw::test::runTool;
using tw::test::shellQuote;
using tw::test::writeFileBytes;

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());

std::string toHex(const std::string& bytes) {
  std::string text;
  CryptoPP::StringSource(bytes, true, new CryptoPP::HexEncoder(new CryptoPP::StringSink(text)));
  return text;
}

std::string payload(u8 kind, const std::string& name, const std::string& argument,
                    const std::string& signature, u32 size, const std::string& bytes) {
  std::string p(1, static_cast<char>(kind));
  for (const std::string* s : {&name, &argument, &signature}) p += *s + '\0';
  for (int shift = 24; shift >= 0; shift -= 8) p += static_cast<char>((size >> shift) & 0xFF);
  return p + bytes;
}

void makeExecutable(const std::string& path) {
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

// Lines of a file; empty when it does not exist.
std::vector<std::string> linesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

class UpgradeTest : public tw::test::PlatformRootTest {
 protected:
  static void SetUpTestSuite() {
    if (!tw::test::haveTool("openssl")) return;
    keyDir_ = std::make_unique<tw::test::ScratchDir>();
    const std::string der = keyDir_->file("key.der");
    pem_ = keyDir_->file("key.pem");
    if (runTool("openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out " +
                shellQuote(pem_) + " 2>/dev/null") != 0 ||
        runTool("openssl pkey -in " + shellQuote(pem_) + " -pubout -outform DER -out " +
                shellQuote(der)) != 0)
      return;
    keyText_ = toHex(readFileBytes(der));
  }
  static void TearDownTestSuite() { keyDir_.reset(); }

  void SetUp() override {
    if (keyText_.empty()) GTEST_SKIP() << "openssl not found";
    previous_ = uaNResUpgrade::setVerifier([](const std::string& path, const std::string& sig) {
      return uaVerifyUpgradeFileWithKey(keyText_, path, sig);
    });
    fs::create_directory(bin_);
    writeStandIn("msiexec", "case \"$2\" in /x) exit 3;; esac\n");
    writeStandIn("cmd", "");
    ErrorLines::clear();
    zuLog::addListener(&ErrorLines::capture);
  }
  void TearDown() override {
    zuLog::removeListener(&ErrorLines::capture);
    uaNResUpgrade::setVerifier(previous_);
  }

  // Appends its arguments, one a line, and a "--" line to <name>.log.
  void writeStandIn(const std::string& name, const std::string& tail) {
    const std::string path = bin_ + "/" + name;
    writeFileBytes(
        path, "#!/bin/sh\nprintf '%s\\n' \"$@\" -- >> " + shellQuote(record(name)) + "\n" + tail);
    makeExecutable(path);
  }
  std::string record(const std::string& name) const { return work_.file(name + ".log"); }

  // Hex signature of bytes under the test key.
  std::string sign(const std::string& bytes) {
    const std::string file = work_.file("to-sign");
    writeFileBytes(file, bytes);
    const std::string sig = file + ".sig";
    EXPECT_EQ(runTool("openssl dgst -sha1 -sign " + shellQuote(pem_) + " -out " + shellQuote(sig) +
                      " " + shellQuote(file)),
              0);
    return toHex(readFileBytes(sig));
  }
  std::string signedPayload(u8 kind, const std::string& name, const std::string& argument,
                            const std::string& bytes) {
    return payload(kind, name, argument, sign(bytes), static_cast<u32>(bytes.size()), bytes);
  }

  static u16 runOn(uaNResUpgrade& response, const std::string& data) {
    zuNetReader reader(data.data(), static_cast<u32>(data.size()));
    return response.run(reader);
  }

  std::string tempDir() const { return temp_.path() + "/"; }

  static inline std::unique_ptr<tw::test::ScratchDir> keyDir_;
  static inline std::string pem_;
  static inline std::string keyText_;
  uaNResUpgrade::Verifier previous_;
  tw::test::ScratchDir work_;
  tw::test::ScratchDir temp_;
  std::string bin_ = work_.file("bin");
  tw::test::ScopedEnv tmpdir_{"TMPDIR", temp_.path()};
  tw::test::ScopedEnv path_{"PATH", bin_ + ":/usr/bin:/bin"};
};

// A folder that the upgrade made for one file: in the temporary folder,
// entered by us alone.
void expectPrivateFolder(const fs::path& folder) {
  EXPECT_EQ(folder.filename().string().rfind(uaNResUpgrade::kFolderPrefix, 0), 0u) << folder;
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
}

// A program that writes its arguments, one a line, to out.
std::string recordingProgram(const std::string& out) {
  return "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + shellQuote(out) + "\n";
}

TEST(uaNResUpgradeNames, NamesAndValues) {
  uaNResUpgrade response;
  EXPECT_EQ(response.getType(), 1);
  EXPECT_STREQ(response.getTypeName(), "zuNOT_Login");
  EXPECT_STREQ(response.getName(), "Upgrade");
  EXPECT_FALSE(response.requiresAuthority());
  EXPECT_FALSE(response.isRequest());
}

TEST_F(UpgradeTest, RefusedRequestsSetLogAndReturnTheirCode) {
  const std::string bytes = "installer bytes";
  const std::string sig = sign(bytes);
  const std::string other = sign("other bytes");
  const u32 n = static_cast<u32>(bytes.size());
  const std::string unexpected =
      "Got unexpected data while handling the request. The server and the client might be "
      "incompatible.";
  struct Case {
    const char* what;
    std::string data;
    u16 code;
    std::string text;  // "%p" stands for the received file path
    bool fileMade;
  } cases[] = {
      {"too large", payload(2, "a.msi", "", sig, 26214401, bytes), 772,
       "Error updating file \"a.msi\". File is to large.", false},
      {"one byte short", payload(2, "a.msi", "", sig, n + 1, bytes), 772, unexpected, true},
      {"one byte over", payload(2, "a.msi", "", sig, n - 1, bytes), 772, unexpected, true},
      {"bad signature", payload(2, "a.msi", "{0A-1}", other, n, bytes), 1541,
       "Error updating file \"%p\". Verification failed.", true},
      {"signature not hex", payload(2, "a.msi", "", "xyz", n, bytes), 1541,
       "Error updating file \"%p\". Verification failed.", true},
      {"name with a folder", payload(0, "../a.exe", "", sig, n, bytes), 772, unexpected, false},
      {"name with a separator", payload(3, "a\\b.exe", "", sig, n, bytes), 772, unexpected, false},
      {"empty name", payload(3, "", "", sig, n, bytes), 772, unexpected, false},
      {"installer switches", payload(2, "a.msi", "{0A} /i other.msi", sig, n, bytes), 772,
       unexpected, false},
      {"installer argument not a code", payload(2, "a.msi", "PRODUCT", sig, n, bytes), 772,
       unexpected, false},
      {"unknown service", payload(1, "svc.exe", "No Such Service", sig, n, bytes), 288,
       "Unable to locate service \"No Such Service\".", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ErrorLines::clear();
    std::string path;
    {
      uaNResUpgrade response;
      EXPECT_EQ(runOn(response, k.data), k.code);
      path = response.receivedFilePath();
      std::string text = k.text;
      if (const size_t at = text.find("%p"); at != std::string::npos) text.replace(at, 2, path);
      EXPECT_EQ(response.getErrorCode(), k.code);
      EXPECT_EQ(response.errorMessage().toString(), text);
      EXPECT_EQ(ErrorLines::lines(), std::vector<std::string>{"Upgrade: " + text});
      EXPECT_EQ(!path.empty() && zuFileExists(path), k.fileMade);
    }
    // The response takes its files with it; nothing was run.
    EXPECT_TRUE(filesIn(temp_.path()).empty());
    EXPECT_FALSE(fs::exists(record("msiexec")));
  }
}

TEST(uaNResUpgradeNames, ProductCodes) {
  const std::pair<const char*, bool> cases[] = {
      {"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", true},
      {"{abc-0}", true},
      {"{-}", true},
      {"{}", false},
      {"{X}", false},
      {"{AB} /qn", false},
      {"{AB}{CD}", false},
      {"{AB", false},
      {"AB}", false},
      {"{A B}", false},
      {"{AB}\"", false},
  };
  for (const auto& [text, code] : cases)
    EXPECT_EQ(uaNResUpgrade::isProductCode(text), code) << text;
}

TEST_F(UpgradeTest, PayloadCutShortThrowsOutOfRange) {
  const std::string whole = payload(2, "a.msi", "", "00", 3, "abc");
  for (size_t keep : {size_t{0}, size_t{1}, size_t{8}, whole.size() - 4}) {
    uaNResUpgrade response;
    EXPECT_THROW(runOn(response, whole.substr(0, keep)), std::out_of_range) << keep;
  }
}

TEST_F(UpgradeTest, FileThatCannotBeCreatedFailsWith1538) {
  // The number is the C run-time one: ENOENT 2 and ENOTDIR 0x14, where
  // Windows would say 3 and 267 (0x10B) for both.
  tw::test::writeFile(temp_.file("plain"), "");
  const std::pair<std::string, const char*> cases[] = {
      {temp_.file("missing"), "0x2"},
      {temp_.file("plain"), "0x14"},
  };
  for (const auto& [tempFolder, number] : cases) {
    tw::test::ScopedEnv tmpdir("TMPDIR", tempFolder);
    ErrorLines::clear();
    uaNResUpgrade response;
    EXPECT_EQ(runOn(response, signedPayload(0, "a.exe", "", "x")), 1538);
    const std::string text =
        "Error opening file \"" + tempFolder + "/a.exe\" error: " + number + ".";
    EXPECT_EQ(response.errorMessage().toString(), text);
    EXPECT_EQ(ErrorLines::lines(), std::vector<std::string>{"Upgrade: " + text});
  }
}

TEST_F(UpgradeTest, LargestFileIsAccepted) {
  const std::string bytes(uaNResUpgrade::kMaxFileSize, 'z');
  uaNResUpgrade response;
  EXPECT_EQ(runOn(response, signedPayload(2, "big.msi", "", bytes)), 0);
  EXPECT_EQ(fs::file_size(response.receivedFilePath()), uaNResUpgrade::kMaxFileSize);
}

TEST_F(UpgradeTest, TooLargeFileIsRefusedWhileItsChunksArrive) {
  const std::string tooLarge = "Error updating file \"big.msi\". File is to large.";
  const std::string unexpected =
      "Got unexpected data while handling the request. The server and the client might be "
      "incompatible.";
  EXPECT_EQ(uaNResUpgrade().maxGatheredBytes(), 26214400u + 65536u);
  struct Case {
    const char* what;
    std::string chunk;
    u16 result;        // of the chunk, not the last one
    std::string text;  // set by the gathering limit
  } cases[] = {
      {"size field too large", payload(2, "big.msi", "", "00", 26214401, "abc"), 772, tooLarge},
      // Past the size it states, or a head past its room: at once.
      {"more bytes than stated", payload(2, "big.msi", "", "00", 2, "abc"), 772, unexpected},
      {"head past its room",
       payload(2, "big.msi", std::string(uaNResUpgrade::kHeaderRoom, 'a'), "00", 10, ""), 772,
       unexpected},
      {"largest size", payload(2, "big.msi", "", "00", 26214400, "abc"), 0, unexpected},
      {"head not complete", std::string("\2big.msi\0", 9), 0, unexpected},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    uaNResUpgrade response;
    bool dropped = false;
    const u16 result = response.deliverChunk(reinterpret_cast<const u8*>(k.chunk.data()),
                                             static_cast<u32>(k.chunk.size()), false, dropped);
    EXPECT_EQ(result, k.result);
    if (k.result != 0) {
      EXPECT_EQ(response.errorMessage().toString(), k.text);
      continue;
    }
    response.setGatheringLimitError();
    EXPECT_EQ(response.getErrorCode(), 772);
    EXPECT_EQ(response.errorMessage().toString(), k.text);
  }
  EXPECT_TRUE(filesIn(temp_.path()).empty());
}

TEST_F(UpgradeTest, BufferIsReservedOnceForTheSizeTheHeadGives) {
  const std::string head = payload(2, "big.msi", "", "00", 100000, "");
  const std::string largest = payload(2, "big.msi", "", "00", uaNResUpgrade::kMaxFileSize, "");
  struct Case {
    const char* what;
    std::vector<std::string> chunks;  // the head, then bytes of the file
    std::size_t reserved;
  } cases[] = {
      {"head in one chunk", {head + "abc", std::string(50000, 'x'), std::string(49997, 'y')},
       head.size() + 100000},
      {"head in pieces", {head.substr(0, 5), head.substr(5) + "abc", std::string(9997, 'x')},
       head.size() + 100000},
      // The limit bounds what a size field can make it reserve.
      {"largest size", {largest, std::string(1000, 'x')},
       largest.size() + uaNResUpgrade::kMaxFileSize},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    uaNResUpgrade response;
    const u8* buffer = nullptr;
    for (const std::string& chunk : k.chunks) {
      bool dropped = false;
      ASSERT_EQ(response.deliverChunk(reinterpret_cast<const u8*>(chunk.data()),
                                      static_cast<u32>(chunk.size()), false, dropped),
                0);
      if (response.receivedData().size() < head.size()) continue;
      // Reserved when the head is whole, and the data never moves after.
      EXPECT_EQ(response.receivedData().capacity(), k.reserved);
      if (buffer) {
        EXPECT_EQ(response.receivedData().data(), buffer);
      }
      buffer = response.receivedData().data();
    }
  }
}

TEST_F(UpgradeTest, InstallerRemovesTheProductFirstAndInstallsEvenWhenThatFails) {
  const std::string bytes = "msi package";
  struct Case {
    std::string argument;
    u32 runs;
  } cases[] = {{"", 1}, {"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", 2}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.argument);
    fs::remove(record("msiexec"));
    ErrorLines::clear();
    std::string path;
    {
      uaNResUpgrade response;
      EXPECT_EQ(runOn(response, signedPayload(2, "setup.msi", k.argument, bytes)), 0);
      path = response.receivedFilePath();
      EXPECT_EQ(readFileBytes(path), bytes);
      // Its own name in a folder of its own; read and written by us alone.
      EXPECT_EQ(fs::path(path).filename(), "setup.msi");
      expectPrivateFolder(fs::path(path).parent_path());
      EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
    std::vector<std::string> expected;
    std::vector<std::string> logged;
    if (k.runs == 2) {
      expected = {"/qn", "/x", k.argument, "--"};
      logged = {"Execution of msiexec \"/qn /x " + k.argument + "\" failed with exit code 3."};
    }
    for (const char* a : {"/qn", "/i"}) expected.push_back(a);
    expected.push_back(path);
    expected.push_back("--");
    EXPECT_EQ(linesOf(record("msiexec")), expected);
    EXPECT_EQ(ErrorLines::lines(), logged);
    EXPECT_FALSE(zuFileExists(path));
    EXPECT_TRUE(filesIn(temp_.path()).empty());
  }
}

TEST_F(UpgradeTest, ProgramRunsWithItsArgumentsUnderItsOwnNameInAFolderOfItsOwn) {
  const std::string out = work_.file("program-args");
  const std::string program = recordingProgram(out);
  const std::string data = signedPayload(0, "update.exe", "one \"two three\"", program);
  {
    uaNResUpgrade first;
    EXPECT_EQ(runOn(first, data), 0);
    const fs::path path = first.receivedFilePath();
    EXPECT_EQ(path.filename(), "update.exe");
    expectPrivateFolder(path.parent_path());
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all);
    EXPECT_EQ(linesOf(out), (std::vector<std::string>{"one", "two three"}));
    // The same name again while the first file is there: a folder of its own.
    uaNResUpgrade second;
    EXPECT_EQ(runOn(second, data), 0);
    EXPECT_EQ(fs::path(second.receivedFilePath()).filename(), "update.exe");
    EXPECT_NE(second.receivedFilePath(), first.receivedFilePath());
  }
  // Each folder went with its response.
  EXPECT_TRUE(filesIn(temp_.path()).empty());
  EXPECT_TRUE(ErrorLines::lines().empty());
}

TEST_F(UpgradeTest, NamesPlantedInTheTemporaryFolderRedirectNothing) {
  const std::string target = work_.file("planted-target");
  const std::string name = temp_.file("update.exe");
  struct Case {
    const char* what;
    std::function<void()> plant;
  } cases[] = {
      {"dangling link", [&] { fs::create_symlink(target, name); }},
      {"link to a file",
       [&] {
         writeFileBytes(target, "theirs");
         fs::create_symlink(target, name);
       }},
      {"folder", [&] { fs::create_directory(name); }},
  };
  const std::string bytes = "#!/bin/sh\nexit 0\n";
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    k.plant();
    const bool targetExisted = fs::exists(target);
    {
      uaNResUpgrade response;
      EXPECT_EQ(runOn(response, signedPayload(0, "update.exe", "", bytes)), 0);
      EXPECT_EQ(readFileBytes(response.receivedFilePath()), bytes);
      EXPECT_EQ(fs::path(response.receivedFilePath()).parent_path().parent_path(),
                fs::path(temp_.path()));
    }
    // The planted name and what it points at are as they were.
    EXPECT_EQ(fs::exists(target), targetExisted);
    if (targetExisted) {
      EXPECT_EQ(readFileBytes(target), "theirs");
    }
    EXPECT_EQ(filesIn(temp_.path()), std::vector<std::string>{"update.exe"});
    fs::remove(name);
    fs::remove(target);
  }
}

TEST_F(UpgradeTest, OtherKindsRunTheProgramAndOnlyLogItsFailure) {
  const std::string program = "#!/bin/sh\nexit 7\n";
  uaNResUpgrade response;
  EXPECT_EQ(runOn(response, signedPayload(9, "fail.exe", "-x", program)), 0);
  EXPECT_EQ(response.getErrorCode(), 0);
  EXPECT_EQ(ErrorLines::lines(),
            std::vector<std::string>{"Execution of \"" + response.receivedFilePath() +
                                     "\" \"-x\" failed with exit code 7."});
}

TEST_F(UpgradeTest, AgentServiceInAnyCaseHandsTheFileToTheUpgradeScript) {
  const std::string agent = work_.file("agent bin");
  zuServiceManager sm;
  ASSERT_TRUE(sm.create(uaNResUpgrade::kAgentServiceName, "", "\"" + agent + "\"", {}))
      << sm.lastError();
  const std::string before = zuGetCurrentDirectory();
  std::string path;
  {
    uaNResUpgrade response;
    EXPECT_EQ(runOn(response, signedPayload(1, "agent.exe", "tarnwell UPDATE agent", "new")), 0);
    EXPECT_EQ(response.receivedFilePath(), "");
    EXPECT_EQ(zuGetCurrentDirectory() + "/", zuGetModuleDirectory());
    ASSERT_TRUE(tw::test::eventually([&] { return linesOf(record("cmd")).size() == 5; }));
  }
  zuSetCurrentDirectory(before);
  const std::vector<std::string> args = linesOf(record("cmd"));
  EXPECT_EQ(std::vector<std::string>(args.begin(), args.begin() + 3),
            (std::vector<std::string>{"/K", "doUpgrade.bat", agent}));
  path = args[3];
  // The script gets the file; the response leaves it and its folder.
  EXPECT_EQ(fs::path(path).parent_path().parent_path().string() + "/", tempDir());
  EXPECT_EQ(readFileBytes(path), "new");
  EXPECT_TRUE(ErrorLines::lines().empty());
}

TEST_F(UpgradeTest, OtherServiceGetsTheFileAfterABackupOfItsExecutable) {
  const std::string exe = work_.file("target.exe");
  writeFileBytes(exe, "old");
  zuServiceManager sm;
  ASSERT_TRUE(sm.create("Tw Upgrade Target", "", "\"" + exe + "\"", {})) << sm.lastError();
  uaNResUpgrade response;
  const u16 code = runOn(response, signedPayload(1, "target.exe", "Tw Upgrade Target", "new"));
  EXPECT_EQ(readFileBytes(exe + ".bak"), "old");
  EXPECT_EQ(readFileBytes(exe), "new");
  // The stand-in executable is no service program, so the restart is refused.
  EXPECT_EQ(code, 288);
  EXPECT_EQ(response.errorMessage().toString(), "Unable to start service \"Tw Upgrade Target\".");
}

TEST_F(UpgradeTest, RepliesOverAConnection) {
  tw::test::HandlerPair pair = tw::test::connectHandlerPair();
  ASSERT_TRUE(pair.server);
  zuNetObjectHandler& client = *pair.client;
  zuNetObjectHandler& server = *pair.server;
  zuNetResponseFactoryMap factories;
  factories[1] = [](u8) { return std::make_unique<uaNResUpgrade>(); };
  server.setFactories(factories);
  server.start();
  client.start();

  const std::string bytes = "package";
  std::list<ReplyRequest> requests;
  ReplyRequest& good = requests.emplace_back(u8{1}, signedPayload(2, "p.msi", "", bytes));
  ReplyRequest& bad = requests.emplace_back(
      u8{1}, payload(2, "p.msi", "", sign("else"), static_cast<u32>(bytes.size()), bytes));
  for (ReplyRequest* r : {&good, &bad}) {
    tw::test::sendOn(client, *r);
    ASSERT_TRUE(!zuThread::waitForObjects(kWait, &r->done));
  }
  EXPECT_TRUE(good.isSucceeded());
  EXPECT_EQ(good.getErrorCode(), 0);
  EXPECT_EQ(bad.getErrorCode(), 1541);
  EXPECT_EQ(bad.errorMessage().toString().rfind("Error updating file \"" + tempDir(), 0), 0u);
  EXPECT_TRUE(tw::test::eventually([&] { return filesIn(temp_.path()).empty(); }));
  client.stop();
  client.wait();
}

// The library's request in the agent's form, signed with the test key.
TEST_F(UpgradeTest, AgentFormRequestOfTheLibraryIsInstalled) {
  tw::test::HandlerPair pair = tw::test::connectSecureHandlerPair();
  ASSERT_TRUE(pair.server);
  zuNetResponseFactoryMap factories;
  factories[1] = [](u8) { return std::make_unique<uaNResUpgrade>(); };
  pair.server->setFactories(factories);
  pair.server->start();
  pair.client->start();

  // Larger than one chunk, so the file follows its head over several.
  std::string bytes(70000, 'p');
  const std::string file = work_.file("product.msi");
  writeFileBytes(file, bytes);
  zuNetReqAgentUpgrade good(file, uaNResUpgrade::kKindInstaller, "", sign(bytes));
  EXPECT_EQ(good.fileSize(), bytes.size());
  zuNetReqAgentUpgrade bad(file, uaNResUpgrade::kKindInstaller, "", sign("other"));
  for (zuNetReqAgentUpgrade* r : {&good, &bad}) {
    r->start(pair.client.get());
    ASSERT_FALSE(zuThread::waitForObjects(kWait, r->completionEvent()));
    EXPECT_TRUE(r->wait());
  }
  EXPECT_TRUE(good.isSucceeded()) << good.errorMessage().toString();
  EXPECT_EQ(bad.getErrorCode(), 1541);
  // The installer ran once, for the good file.
  const std::vector<std::string> runs = linesOf(record("msiexec"));
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0], "/qn");
  EXPECT_EQ(runs[1], "/i");
  EXPECT_EQ(fs::path(runs[2]).extension(), ".msi");
  EXPECT_EQ(runs[3], "--");
  pair.client->stop();
  pair.client->wait();
  pair.server->stop();
  pair.server->wait();
}

}  // namespace
