// Requests of the library against its responses, over a plain loopback pair
// and over the secure layer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "loam/base/zuException.h"
#include "loam/base/zuProperties.h"
#include "loam/netobjects/zuNetObjectErrors.h"
#include "loam/netobjects/zuNetObjectHandler.h"
#include "loam/netobjects/zuNetReqConnect.h"
#include "loam/netobjects/zuNetReqNetToProperties.h"
#include "loam/netobjects/zuNetReqPropertiesToNet.h"
#include "loam/netobjects/zuNetReqReadFile.h"
#include "loam/netobjects/zuNetReqAgentUpgrade.h"
#include "loam/netobjects/zuNetReqUpgrade.h"
#include "loam/netobjects/zuNetReqWriteFile.h"
#include "loam/netobjects/zuNetResNetToProperties.h"
#include "loam/netobjects/zuNetResPropertiesToNet.h"
#include "loam/netobjects/zuNetResReadFile.h"
#include "loam/netobjects/zuNetResWriteFile.h"
#include "loam/netobjects/zuSimpleNetRequest.h"
#include "loam/netobjects/zuSimpleNetResponse.h"
#include "loam/threads/zuLog.h"
#include "loam/threads/zuProgress.h"
#include "loam/threads/zuSingleEvent.h"
#include "support/NetObjectTestSupport.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using tw::test::ErrorLines;
using tw::test::HandlerPair;
using tw::test::ReplyRequest;
using tw::test::sendOn;

constexpr u32 kWait = static_cast<u32>(tw::test::kFailBound.count());
constexpr u8 kPropertiesOut = 20;  // the server sends its list
constexpr u8 kPropertiesIn = 21;   // the server takes the client's list
constexpr u8 kSimple = 22;

// ---- the server's responses ----------------------------------------------------

class ListOut : public zuNetResPropertiesToNet {
 public:
  explicit ListOut(zuProperties* list) { setProperties(list); }
  u8 getType() const override { return kPropertiesOut; }
  bool requiresAuthority() const override { return false; }
};

class ListIn : public zuNetResNetToProperties {
 public:
  explicit ListIn(zuProperties* list) { setProperties(list); }
  u8 getType() const override { return kPropertiesIn; }
  bool requiresAuthority() const override { return false; }
};

// Answers with the request's bytes and its request code plus one.
class Echo : public zuSimpleNetResponse {
 public:
  u8 getType() const override { return kSimple; }
  bool requiresAuthority() const override { return false; }
  u16 processData(zuNetReader& reader, u32 length) override {
    setReplyCode(static_cast<u8>(requestCode() + 1));
    outgoing().putData(reader.getCurrent(), length);
    return 0;
  }
};

// ---- the client's requests -----------------------------------------------------

class GetList : public zuNetReqNetToProperties {
 public:
  u8 getType() const override { return kPropertiesOut; }
};

class PutList : public zuNetReqPropertiesToNet {
 public:
  u8 getType() const override { return kPropertiesIn; }
};

class Ask : public zuSimpleNetRequest {
 public:
  u8 getType() const override { return kSimple; }
  u16 processData(zuNetReader& reader, u32 length) override {
    reply.assign(reinterpret_cast<const char*>(reader.getCurrent()), length);
    return 0;
  }
  std::string reply;
};

// Sends the given chunks as they are.
class RawChunks : public zuNetRequest {
 public:
  RawChunks(u8 type, std::vector<std::string> chunks) : type_(type), chunks_(std::move(chunks)) {}
  u8 getType() const override { return type_; }
  u32 sendData(u8* buffer, u32, u16& error, bool& last) override {
    const std::string& c = chunks_[getSendCount() - 1];
    std::copy(c.begin(), c.end(), buffer);
    error = 0;
    last = getSendCount() == chunks_.size();
    setSendState(last ? kStateIdle : kStateQueued);
    return static_cast<u32>(c.size());
  }

 private:
  u8 type_;
  std::vector<std::string> chunks_;
};

// A stream buffer that gives n bytes of 'x' and then fails (read side) or
// takes n bytes and then refuses more (write side).
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::size_t n) : left_(n) {}

 protected:
  int_type underflow() override {
    if (left_ == 0) throw std::ios_base::failure("device error");
    --left_;
    byte_ = 'x';
    setg(&byte_, &byte_, &byte_ + 1);
    return traits_type::to_int_type(byte_);
  }
  int_type overflow(int_type c) override {
    if (left_ == 0) return traits_type::eof();
    --left_;
    return traits_type::not_eof(c);
  }

 private:
  std::size_t left_;
  char byte_ = 0;
};

std::string u32be(u32 v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string entry(const std::string& name, const std::string& value) {
  return name + '\0' + value + '\0';
}

zuProperties numberedList(u32 n, std::size_t valueSize) {
  zuProperties list;
  for (u32 i = 0; i < n; ++i) list.set("name" + std::to_string(i), std::string(valueSize, 'v'));
  return list;
}

bool sameEntries(const zuProperties& a, const zuProperties& b) {
  if (a.count() != b.count()) return false;
  std::string n1, v1, n2, v2;
  for (u32 i = 0; i < a.count(); ++i) {
    if (!a.getAt(i, n1, v1) || !b.getAt(i, n2, v2) || n1 != n2 || v1 != v2) return false;
  }
  return true;
}

std::string bytesOfSize(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131) ^ (i >> 9));
  return s;
}

// The request ended failed with this code and text.
void expectFailed(const zuNetRequest& r, u16 code, const std::string& text) {
  EXPECT_EQ(r.getState(), zuNetObject::kStateFailed);
  EXPECT_EQ(r.getErrorCode(), code);
  EXPECT_EQ(r.errorMessage().toString(), text);
}

// ---- the fixture: one connection, plain or secure --------------------------------

enum class Link { kPlain, kSecure };

// A WriteFile whose mode restore fails with the errno value that the test
// sets (0: as it does).
class ModeFailingWriteFile : public zuNetResWriteFile {
 public:
  ModeFailingWriteFile(const std::string& root, const std::atomic<int>& error)
      : zuNetResWriteFile(root), error_(error) {}

 protected:
  int restoreMode(std::ostream& file, unsigned mode) override {
    return error_ != 0 ? error_.load() : zuNetResWriteFile::restoreMode(file, mode);
  }

 private:
  const std::atomic<int>& error_;
};

class RequestTest : public ::testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    pair_ = GetParam() == Link::kPlain ? tw::test::connectHandlerPair()
                                       : tw::test::connectSecureHandlerPair();
    ASSERT_TRUE(pair_.server);
    fs::create_directory(root_);
    zuNetResponseFactoryMap factories;
    const std::string root = root_;
    factories[6] = [root](u8) { return std::make_unique<zuNetResReadFile>(root); };
    factories[7] = [root, this](u8) {
      return std::make_unique<ModeFailingWriteFile>(root, modeError_);
    };
    factories[kPropertiesOut] = [this](u8) { return std::make_unique<ListOut>(&serverList_); };
    factories[kPropertiesIn] = [this](u8) { return std::make_unique<ListIn>(&serverList_); };
    factories[kSimple] = [](u8) { return std::make_unique<Echo>(); };
    pair_.server->setFactories(factories);
    // The file responses are served only to a logged-in peer.
    pair_.server->setLoggedIn(true);
    pair_.server->start();
    pair_.client->start();
    ErrorLines::clear();
    zuLog::addListener(&ErrorLines::capture);
  }
  void TearDown() override {
    zuLog::removeListener(&ErrorLines::capture);
    if (pair_.client) {
      pair_.client->stop();
      pair_.client->wait();
    }
    if (pair_.server) {
      pair_.server->stop();
      pair_.server->wait();
    }
  }

  // Starts and waits; false when it did not end in time.
  bool run(zuNetRequest& request) {
    request.start(client());
    if (zuThread::waitForObjects(kWait, request.completionEvent())) return false;
    return request.wait();
  }
  bool runRaw(ReplyRequest& r) {
    sendOn(*client(), r);
    return !zuThread::waitForObjects(kWait, &r.done);
  }
  zuNetObjectHandler* client() { return pair_.client.get(); }
  std::string path(const std::string& name) const { return root_ + "/" + name; }

  u16 writeFile(const std::string& name, const std::string& bytes) {
    std::istringstream in(bytes);
    zuNetReqWriteFile put;
    EXPECT_TRUE(put.prepare(name, &in, false));
    EXPECT_TRUE(run(put));
    return put.getErrorCode();
  }

  tw::test::ScratchDir dir_;
  const std::string root_ = dir_.file("root");
  std::atomic<int> modeError_{0};
  zuProperties serverList_;
  // Requests outlive the handlers, which touch them as they end.
  std::list<ReplyRequest> raw_;
  HandlerPair pair_;
};

INSTANTIATE_TEST_SUITE_P(Links, RequestTest, ::testing::Values(Link::kPlain, Link::kSecure),
                         [](const auto& p) {
                           return p.param == Link::kPlain ? "Plain" : "Secure";
                         });

TEST_P(RequestTest, FilesMakeTheRoundTripWhole) {
  // 27 MiB passes what one connection may gather: streamed chunks are not
  // gathered.
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{29996},
                                 std::size_t{30000}, std::size_t{5} << 20, std::size_t{27} << 20}) {
    // The cipher adds nothing to what the bound is about.
    if (size > (std::size_t{5} << 20) && GetParam() == Link::kSecure) continue;
    SCOPED_TRACE(size);
    const std::string bytes = bytesOfSize(size);
    ASSERT_EQ(writeFile("sub/../f.bin", bytes), 1538) << "\"..\" is refused";
    ASSERT_EQ(writeFile("f.bin", bytes), 0);
    EXPECT_EQ(tw::test::readFile(path("f.bin")), bytes);

    std::ostringstream out;
    zuNetReqReadFile get;
    ASSERT_TRUE(get.prepare("f.bin", &out, true));
    ASSERT_TRUE(run(get));
    EXPECT_TRUE(get.isSucceeded()) << get.errorMessage().toString();
    EXPECT_EQ(get.fileSize(), size);
    EXPECT_TRUE(out.str() == bytes);
  }
  // Nothing but the file is left beside it.
  EXPECT_EQ(tw::test::folderNames(root_), (std::vector<std::string>{"f.bin"}));
}

TEST_P(RequestTest, StoredFileKeepsTheModeOfTheFileItReplaces) {
  ASSERT_EQ(writeFile("new", "x"), 0);
  const auto ordinary = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read;
  EXPECT_EQ(fs::status(path("new")).permissions(), ordinary);
  const auto mode = fs::perms::owner_all | fs::perms::group_read;
  fs::permissions(path("new"), mode);
  ASSERT_EQ(writeFile("new", "y"), 0);
  EXPECT_EQ(fs::status(path("new")).permissions(), mode);
  EXPECT_EQ(tw::test::readFile(path("new")), "y");
  // A read-only file stays as it is.
  fs::permissions(path("new"), fs::perms::owner_read);
  EXPECT_EQ(writeFile("new", "z"), zuErrFileWrite);
  EXPECT_EQ(tw::test::readFile(path("new")), "y");
  EXPECT_TRUE(tw::test::eventually(
      [&] { return tw::test::folderNames(root_) == std::vector<std::string>{"new"}; }));
}

TEST_P(RequestTest, FailingModeRestoreAfterTheRenameFailsTheWrite) {
  ASSERT_EQ(writeFile("f", "old"), 0);
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  fs::permissions(path("f"), mode);
  modeError_ = EPERM;
  // Renamed already, so the bytes are stored, but the peer hears of the
  // failure and the file keeps the temporary file's private mode.
  EXPECT_EQ(writeFile("f", "new"), zuErrFileWrite);
  EXPECT_EQ(tw::test::readFile(path("f")), "new");
  EXPECT_EQ(fs::status(path("f")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_TRUE(tw::test::eventually(
      [&] { return tw::test::folderNames(root_) == std::vector<std::string>{"f"}; }));
}

TEST_P(RequestTest, EmptyFileIsItsSizeAlone) {
  tw::test::writeFile(path("empty"), "");
  ReplyRequest& r = raw_.emplace_back(u8{6}, std::string("empty\0\0", 7));
  ASSERT_TRUE(runRaw(r));
  EXPECT_TRUE(r.isSucceeded());
  EXPECT_EQ(r.reply, u32be(0));
}

TEST_P(RequestTest, ReadFileWithAnExtraByteIsUnexpectedData) {
  tw::test::writeFile(path("f"), "data");
  ReplyRequest& r = raw_.emplace_back(u8{6}, std::string("f\0\0x", 4));
  ASSERT_TRUE(runRaw(r));
  EXPECT_EQ(r.getErrorCode(), zuErrUnexpectedData);
  EXPECT_EQ(r.errorMessage().toString(), kzuUnexpectedDataText);
  EXPECT_EQ(ErrorLines::lines(),
            (std::vector<std::string>{std::string("ReadFile: ") + kzuUnexpectedDataText}));
}

TEST_P(RequestTest, NamesOutsideTheRootAreRefused) {
  const tw::test::ScratchDir outside;
  tw::test::writeFile(outside.file("secret"), "secret");
  fs::create_directory_symlink(outside.path(), path("out"));
  fs::create_symlink(outside.file("secret"), path("link"));
  const std::vector<std::string> names = {"../x", "a/../../x", "..\\x",  "/etc/passwd",
                                          "\\x",  "C:x",       "c:\\x",  "out/secret",
                                          "link", "",          "new\x01"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::ostringstream out;
    zuNetReqReadFile get;
    ASSERT_TRUE(get.prepare(name, &out, false));
    ASSERT_TRUE(run(get));
    EXPECT_EQ(get.getErrorCode(), zuErrFileOpen);
    EXPECT_EQ(get.errorMessage().toString(), "Error opening file \"" + name + "\".");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(writeFile(name, "overwritten"), zuErrFileOpen);
  }
  EXPECT_EQ(tw::test::readFile(outside.file("secret")), "secret");
  EXPECT_EQ(tw::test::folderNames(outside.path()), (std::vector<std::string>{"secret"}));
  // A folder is no file to read.
  fs::create_directory(path("folder"));
  std::ostringstream out;
  zuNetReqReadFile get;
  get.prepare("folder", &out, false);
  ASSERT_TRUE(run(get));
  EXPECT_EQ(get.getErrorCode(), zuErrFileOpen);
}

TEST_P(RequestTest, OnlyRegularFilesBelow4GiBAreRead) {
  // Sparse: no disk space is taken.
  { std::ofstream create(path("huge"), std::ios::binary); }
  fs::resize_file(path("huge"), std::uintmax_t{1} << 32);
  // Opening a pipe for reading would wait for a writer for ever.
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  for (const char* name : {"huge", "pipe"}) {
    SCOPED_TRACE(name);
    std::ostringstream out;
    zuNetReqReadFile get;
    ASSERT_TRUE(get.prepare(name, &out, false));
    ASSERT_TRUE(run(get));
    EXPECT_EQ(get.getErrorCode(), zuErrFileOpen);
  }
  fs::resize_file(path("huge"), (std::uintmax_t{1} << 32) - 1);
  zuNetReqReadFile sized;
  // The largest size is sent; a target that refuses its first bytes ends the
  // transfer right after the head.
  struct Probe : std::streambuf {
    int_type overflow(int_type) override { return traits_type::eof(); }
  } refuse;
  std::ostream refusing(&refuse);
  ASSERT_TRUE(sized.prepare("huge", &refusing, false));
  ASSERT_TRUE(run(sized));
  EXPECT_EQ(sized.fileSize(), 0xFFFFFFFFu);
  EXPECT_EQ(sized.getErrorCode(), zuErrFileWrite);
}

TEST_P(RequestTest, PropertyListPastTheServersBoundIsRefused) {
  zuProperties mine = numberedList(30000, 40);
  PutList put;
  put.setProperties(&mine);
  ASSERT_TRUE(run(put));
  EXPECT_EQ(put.getErrorCode(), zuErrUnexpectedData);
  EXPECT_LT(serverList_.count(), 30000u);
}

TEST_P(RequestTest, UnwritableTargetGivesTheErrorNumberInHex) {
  std::istringstream in("bytes");
  zuNetReqWriteFile put;
  ASSERT_TRUE(put.prepare("missing/f", &in, false));
  ASSERT_TRUE(run(put));
  // ENOENT
  expectFailed(put, zuErrFileOpen, "Error opening file \"missing/f\" error: 0x2.");
  ASSERT_EQ(ErrorLines::lines().size(), 1u);
  EXPECT_EQ(ErrorLines::lines()[0], "WriteFile: Error opening file \"missing/f\" error: 0x2.");
}

TEST_P(RequestTest, ReadErrorOfTheUploadFailsItAndLeavesTheTarget) {
  tw::test::writeFile(path("f"), "old");
  FailingBuffer failing(70000);
  std::istream in(&failing);
  zuNetReqWriteFile put;
  ASSERT_TRUE(put.prepare("f", &in, false));
  ASSERT_TRUE(run(put));
  expectFailed(put, zuErrFileRead, "Error reading from file \"f\".");
  // The server drops its temporary file once it hears of the failure.
  EXPECT_TRUE(tw::test::eventually(
      [&] { return tw::test::folderNames(root_) == std::vector<std::string>{"f"}; }));
  EXPECT_EQ(tw::test::readFile(path("f")), "old");
}

TEST_P(RequestTest, WriteErrorOfTheDownloadFailsIt) {
  tw::test::writeFile(path("f"), bytesOfSize(100000));
  FailingBuffer failing(40000);
  std::ostream out(&failing);
  zuNetReqReadFile get;
  ASSERT_TRUE(get.prepare("f", &out, false));
  ASSERT_TRUE(run(get));
  expectFailed(get, zuErrFileWrite, "Error writing to file \"f\".");
}

TEST_P(RequestTest, DiskErrorOfTheServerIsReportedNotSuccess) {
  std::istringstream in(bytesOfSize(200000));
  zuNetReqWriteFile put;
  ASSERT_TRUE(put.prepare("big", &in, false));
  {
    // Writes past the limit fail as on a full disk.
    tw::test::ScopedFileSizeLimit limit(50000);
    ASSERT_TRUE(run(put));
  }
  EXPECT_EQ(put.getErrorCode(), zuErrFileWrite);
  EXPECT_EQ(put.errorMessage().toString(), "Error writing to file \"big\".");
  EXPECT_TRUE(tw::test::eventually([&] { return tw::test::folderNames(root_).empty(); }));
}

TEST_P(RequestTest, PropertyListsCrossSeveralChunksWhole) {
  // About 3 chunks each way.
  serverList_ = numberedList(2000, 40);
  zuProperties got;
  zuProgress progress(0, 0, 0);
  GetList get;
  get.setProperties(&got);
  get.setProgress(&progress);
  ASSERT_TRUE(run(get));
  EXPECT_TRUE(get.isSucceeded()) << get.errorMessage().toString();
  EXPECT_TRUE(sameEntries(got, serverList_));
  EXPECT_EQ(get.count(), 2000u);
  EXPECT_EQ(get.index(), 2000u);
  u32 first = 0, total = 0, position = 0;
  progress.read(first, total, position);
  EXPECT_EQ(total, 2000u);
  EXPECT_EQ(position, 2000u);
  EXPECT_FALSE(got.isModified());

  // Every chunk holds whole entries: the server's reader refuses any other.
  zuProperties mine = numberedList(2500, 33);
  mine.setModified(true);
  serverList_.clear();
  PutList put;
  put.setProperties(&mine);
  ASSERT_TRUE(run(put));
  EXPECT_TRUE(put.isSucceeded()) << put.errorMessage().toString();
  EXPECT_GT(put.getSendCount(), 2u);
  EXPECT_TRUE(sameEntries(serverList_, mine));
  EXPECT_FALSE(mine.isModified());
}

TEST_P(RequestTest, EmptyPropertyListIsItsCountAlone) {
  ReplyRequest& r = raw_.emplace_back(kPropertiesOut, "");
  ASSERT_TRUE(runRaw(r));
  EXPECT_TRUE(r.isSucceeded());
  EXPECT_EQ(r.reply, u32be(0));
}

TEST_P(RequestTest, EntrySplitAcrossChunksIsUnexpectedData) {
  RawChunks split(kPropertiesIn, {u32be(2) + entry("a", "1") + "b\0" + "2", std::string("\0", 1)});
  ASSERT_TRUE(run(split));
  EXPECT_EQ(split.getErrorCode(), zuErrUnexpectedData);
  // The entries before the cut were taken; nothing after it.
  EXPECT_TRUE(serverList_.exists("a"));
  EXPECT_FALSE(serverList_.exists("b"));

  // The client's reader holds to the same rule.
  zuProperties list;
  GetList get;
  get.setProperties(&list);
  get.resetCounts();
  bool dropped = false;
  const std::string first = u32be(2) + entry("a", "1") + "b";
  EXPECT_EQ(get.deliverChunk(reinterpret_cast<const u8*>(first.data()),
                             static_cast<u32>(first.size()), false, dropped),
            zuErrUnexpectedData);
}

TEST_P(RequestTest, EntryLargerThanAChunkFailsInsteadOfSpinning) {
  zuProperties mine;
  mine.set("huge", std::string(40000, 'h'));
  PutList put;
  put.setProperties(&mine);
  ASSERT_TRUE(run(put));
  expectFailed(put, 515, "The entry \"huge\" is too large to be sent.");

  serverList_ = mine;
  zuProperties got;
  GetList get;
  get.setProperties(&got);
  ASSERT_TRUE(run(get));
  EXPECT_EQ(get.getErrorCode(), 515);
}

TEST_P(RequestTest, SimpleRequestCarriesItsCodes) {
  Ask ask;
  ask.setRequestCode(41);
  ask.outgoing().putData("hello", 5);
  ASSERT_TRUE(run(ask));
  EXPECT_TRUE(ask.isSucceeded()) << ask.errorMessage().toString();
  EXPECT_EQ(ask.replyCode(), 42);
  EXPECT_EQ(ask.replyLength(), 5u);
  EXPECT_EQ(ask.reply, "hello");
}

TEST_P(RequestTest, RestartLeavesNothingOfTheLastRun) {
  std::ostringstream out;
  zuNetReqReadFile get;
  ASSERT_TRUE(get.prepare("later", &out, false));
  ASSERT_TRUE(run(get));
  ASSERT_EQ(get.getErrorCode(), zuErrFileOpen);

  tw::test::writeFile(path("later"), "now here");
  ASSERT_TRUE(get.prepare("later", &out, false));
  ASSERT_TRUE(run(get));
  EXPECT_TRUE(get.isSucceeded());
  EXPECT_EQ(get.getErrorCode(), 0);
  EXPECT_TRUE(get.errorMessage().isEmpty());
  EXPECT_EQ(out.str(), "now here");

  // A restarted simple request reads its new reply, not the old one.
  Ask ask;
  ask.outgoing().putData("one", 3);
  ASSERT_TRUE(run(ask));
  ask.outgoing().reset();
  ask.outgoing().putData("two", 3);
  ASSERT_TRUE(run(ask));
  EXPECT_EQ(ask.reply, "two");
}

// ---- requests without a server's answer --------------------------------------

class RequestLifeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pair_ = tw::test::connectHandlerPair();
    ASSERT_TRUE(pair_.server);
  }
  void TearDown() override {
    for (auto* h : {pair_.client.get(), pair_.server.get()}) {
      if (h) {
        h->stop();
        h->wait();
      }
    }
  }
  HandlerPair pair_;
};

TEST_F(RequestLifeTest, WaitEndsOnTheExtraEventAndCancelEndsTheRequest) {
  // The server's handler never runs, so no reply comes.
  pair_.client->start();
  Ask ask;
  zuSingleEvent stop;
  ask.start(pair_.client.get());
  stop.set();
  EXPECT_FALSE(ask.wait(&stop));
  EXPECT_FALSE(ask.completionEvent()->isSet());
  ask.cancel();
  EXPECT_TRUE(ask.wait());
  EXPECT_EQ(ask.getState(), zuNetObject::kStateCancelled);
  // An ended request is no longer registered.
  try {
    ask.cancel();
    FAIL() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrObjectNotRegistered);
    EXPECT_STREQ(e.what(), "Object not registered.");
  }
  // The event of an ended request is set as soon as it is made.
  Ask never;
  try {
    never.cancel();
    FAIL() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrObjectNotRegistered);
  }
}

TEST_F(RequestLifeTest, StartOnAHandlerThatIsNotConnected) {
  auto lone = std::make_unique<zuNetObjectHandler>(nullptr, nullptr, false);
  Ask ask;
  try {
    ask.start(lone.get());
    FAIL() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrHandlerNotRunning);
  }
  EXPECT_EQ(ask.getState(), zuNetObject::kStateCancelled);
  EXPECT_TRUE(ask.completionEvent()->isSet());
  EXPECT_TRUE(ask.wait());
}

// ---- the Connect reply ---------------------------------------------------------

TEST(zuNetReqConnect, ReadsTheReplyIntoTheRecord) {
  const std::string fixed =
      std::string("\x01\x00\x01\x08", 4) + "OS text" + std::string("\0\x02", 2);
  struct Case {
    const char* name;
    std::string bytes;
    u16 result;
    std::string version;
    bool lastFlag;
  };
  const std::vector<Case> cases = {
      {"whole", fixed + "6.2" + std::string("\0\0", 2), 0, "6.2", false},
      {"ends after the second constant", fixed, 0, "", true},
      {"ends after the version", fixed + "7.0" + std::string("\0", 1), 0, "7.0", true},
      {"cut inside the system text", std::string("\x01\x00\x01\x08OS", 6), zuErrUnexpectedData, "",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    zuConnectReply record;
    record.osText = "untouched";
    zuNetReqConnect request;
    request.outgoing().putUInt8(9);
    request.setReplyTarget(&record);
    EXPECT_EQ(request.outgoing().size(), 0u);
    zuNetReader reader(c.bytes.data(), static_cast<u32>(c.bytes.size()));
    EXPECT_EQ(request.processData(reader, static_cast<u32>(c.bytes.size())), c.result);
    if (c.result != 0) {
      EXPECT_EQ(record.osText, "untouched");
      EXPECT_EQ(request.errorMessage().toString(), kzuUnexpectedDataText);
      continue;
    }
    EXPECT_EQ(record.protocolValue, 256);
    EXPECT_TRUE(record.firstFlag);
    EXPECT_EQ(record.firstConstant, 8u);
    EXPECT_EQ(record.osText, "OS text");
    EXPECT_EQ(record.secondConstant, 2u);
    EXPECT_EQ(record.versionText, c.version);
    EXPECT_EQ(record.lastFlag, c.lastFlag);
  }
}

TEST(zuNetRequestNames, TypesAndNames) {
  tw::test::ScratchDir dir;
  tw::test::writeFile(dir.file("pkg.bin"), "x");
  zuNetReqConnect connect;
  zuNetReqReadFile read;
  zuNetReqWriteFile write;
  zuNetReqUpgrade upgrade(dir.file("pkg.bin"), "a", "b", 1);
  zuNetResReadFile readResponse("/");
  zuNetResWriteFile writeResponse("/");
  struct Row {
    zuNetObject& object;
    u8 type;
    const char* typeName;
    const char* name;
    bool request;
  };
  for (const Row& r : std::vector<Row>{{connect, 2, "zuNOT_Connect", "Connect", true},
                                       {read, 6, "zuNOT_ReadFile", "ReadFile", true},
                                       {write, 7, "zuNOT_WriteFile", "WriteFile", true},
                                       {upgrade, 3, "zuNOT_Upgrade", "Upgrade", true},
                                       {readResponse, 6, "zuNOT_ReadFile", "ReadFile", false},
                                       {writeResponse, 7, "zuNOT_WriteFile", "WriteFile", false}}) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.object.getType(), r.type);
    EXPECT_STREQ(r.object.getTypeName(), r.typeName);
    EXPECT_STREQ(r.object.getName(), r.name);
    EXPECT_EQ(r.object.isRequest(), r.request);
  }
  EXPECT_TRUE(readResponse.requiresAuthority());
  EXPECT_TRUE(writeResponse.requiresAuthority());
}

TEST(zuNetReqUpgrade, PayloadAndAFileThatDoesNotOpen) {
  tw::test::ScratchDir dir;
  tw::test::writeFile(dir.file("pkg.bin"), "bytes");
  zuNetReqUpgrade upgrade(dir.file("pkg.bin"), "one", "two", 0x01020304);
  const std::string head(reinterpret_cast<const char*>(upgrade.outgoing().getStart()),
                         upgrade.outgoing().size());
  EXPECT_EQ(head, std::string("pkg.bin\0one\0two\0\x01\x02\x03\x04", 20));
  upgrade.prepareSend();
  upgrade.incrementSendCount();
  u8 chunk[64];
  u16 error = 0;
  bool last = false;
  const u32 n = upgrade.sendData(chunk, sizeof chunk, error, last);
  EXPECT_TRUE(last);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(chunk), n), head + "bytes");

  ErrorLines::clear();
  zuLog::addListener(&ErrorLines::capture);
  const std::string missing = dir.file("missing.bin");
  try {
    zuNetReqUpgrade none(missing, "", "", 0);
    ADD_FAILURE() << "no exception";
  } catch (const zuException& e) {
    EXPECT_EQ(e.code(), zuErrFileRead);
    EXPECT_EQ(e.message().toString(), "Error reading from file \"" + missing + "\".");
  }
  zuLog::removeListener(&ErrorLines::capture);
  EXPECT_EQ(ErrorLines::lines(),
            (std::vector<std::string>{"Error reading from file \"" + missing + "\"."}));
}

TEST(zuNetReqUpgrade, SourceFileIsNotInheritedByChildren) {
  tw::test::ScratchDir dir;
  const std::string path = dir.file("pkg.bin");
  tw::test::writeFile(path, "bytes");
  {
    zuNetReqUpgrade upgrade(path, "one", "two", 1);
    EXPECT_NE(tw::test::openFlagsOf(path) & 02000000, 0) << "O_CLOEXEC";
  }
  {
    zuNetReqAgentUpgrade upgrade(path, 2, "", "");
    EXPECT_NE(tw::test::openFlagsOf(path) & 02000000, 0) << "O_CLOEXEC";
  }
  EXPECT_EQ(tw::test::openFlagsOf(path), -1);  // closed with the request
}

}  // namespace
