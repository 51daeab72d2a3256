#pragma once
// The SSH-2 terminal client: connects over TCP (port 22 unless set), runs the
// identification and key exchange, checks the server's host key, logs in with
// a password, and then offers a shell on a pseudo-terminal (send, receive),
// commands on channels of their own, and single-file copies with the remote
// "scp" program. Everything runs on the caller's thread: incoming bytes are
// only processed while an operation pumps the endpoint.
//
// Host keys: with an expected fingerprint or a check callback set, a key
// that does not pass fails the handshake before any password is sent (a
// DISCONNECT with reason 9 goes to the server). With neither, the first key
// is accepted and its fingerprint logged at level 0. A later key exchange
// must bring the same key as the first; another one ends the session like
// any protocol error.
//
// Failures say why: lastError() holds the status of the last failure with
// its text. A protocol error found in what the server sent (no common
// algorithm, a bad packet, data beyond the window, ...) gives 516 with the
// library's description, reason name and, for a failed negotiation, what
// the server offered; the client then sends DISCONNECT with that reason when
// a packet can still be sent, closes the connection and logs the text at
// level 0. Later operations on the connection give 515.
//
// The interactive channel (send, receive) is the first shell of the
// connection. Once the server has closed it, send gives 514 and receive
// gives what was still buffered, then 514; no new shell is opened.
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>

#include "loam/base/zuErrorMessage.h"
#include "loam/base/zuTimer.h"
#include "loam/terminal/zuSSHSession.h"
#include "loam/terminal/zuTelnet.h"

class zuSSH : public zuTelnet {
 public:
  static constexpr u16 kDefaultPort = 22;
  // Passes of openChannel's wait for the confirmation, 100 ms each.
  static constexpr u32 kOpenPasses = 100;
  static constexpr u32 kOpenPassMs = 100;
  // The longest scp control line accepted.
  static constexpr u32 kMaxScpLine = 4096;

  // A host-key check: the key blob and its fingerprints ("MD5:xx:..." and
  // "SHA256:..." as ssh-keygen -l shows them); true accepts the key.
  using HostKeyCheck = std::function<bool(const std::string& keyBlob, const std::string& md5,
                                          const std::string& sha256)>;

  explicit zuSSH(zuEvent* stopEvent);
  ~zuSSH() override;

  // disconnect, a new TCP endpoint with the time-out connected to the host
  // (a name or an address text) or address on the port, then handshake.
  bool connect(const std::string& host, const std::string& user, const std::string& password,
               u32 timeout);
  bool connect(const zuIPAddress& address, const std::string& user, const std::string& password,
               u32 timeout);
  bool handshake(const std::string& user, const std::string& password);

  // Opens a channel of the type and waits (at most 100 passes of 100 ms)
  // for the server's confirmation; false when refused or not confirmed.
  bool openChannel(const std::string& type, u32& number);
  // The interactive channel with a pty and a shell, when not open yet;
  // raises zuException 515 when it cannot be opened.
  void openSession();

  bool disconnect() override;
  // The text and a line feed on the interactive channel.
  u16 send(const char* text) override;
  // What the interactive channel has received, as readChannel.
  u16 receive(std::ostream* out, u32 stopByte, bool noWait) override;

  // Copies a remote file to out; size gets the announced size.
  bool scpGet(const std::string& remotePath, u32& size, std::ostream& out);
  // Copies the stream's bytes (from its start to its end) to the remote
  // path; a path that ends in a folder name is refused.
  bool scpPut(const std::string& remotePath, std::istream& data);

  // Queued bytes onto out (when given) until the stop byte (not 0) has been
  // put there, the peer's EOF (514) or the time-out (258; 0 with noWait).
  // The time-out bounds the whole call from its start, however many bytes
  // keep arriving: without a stop byte a stream longer than the time-out
  // allows ends with 258 and the bytes read so far on out. (scp downloads
  // count their time-out from the last byte received instead.)
  u16 readChannel(SessionChannel* channel, std::ostream* out, u32 stopByte, bool noWait);
  // One byte, waiting within the time-out.
  u16 readByte(SessionChannel* channel, u8& byte);

  // The last failure: its status and text; cleared (code 0) when connect,
  // handshake, send, receive, scpGet or scpPut begins.
  const zuErrorMessage& lastError() const { return lastError_; }

  // The host key must have this fingerprint ("MD5:..." or bare hex pairs,
  // or "SHA256:..."); empty turns the check off.
  void setExpectedHostKey(const std::string& fingerprint) { expectedHostKey_ = fingerprint; }
  void setHostKeyCheck(HostKeyCheck check) { hostKeyCheck_ = std::move(check); }
  // Fingerprints of the key of the server of this connection, set during
  // the handshake (empty until its key exchange is done).
  const std::string& hostKeyMd5() const { return hostKeyMd5_; }
  const std::string& hostKeySha256() const { return hostKeySha256_; }

  zuSSHSession* session() const { return session_.get(); }

 private:
  // Pumps until done() holds, within the handshake's time; failed() raises.
  void waitFor(const zuTimer& timer, const std::function<bool()>& done, bool authStep);
  void checkHostKey();
  // The status of an exception caught inside an operation (a zuException's
  // code, 516 for any other), recorded as lastError. A protocol error ends
  // the session first (endSession).
  u16 failure(const std::exception& e);
  // DISCONNECT with the cause's reason while a packet can still go out,
  // then the endpoint is closed; the session object stays until disconnect.
  void endSession(const SSH::CauseToDisconnect& cause);
  // The session exists and is neither disconnected nor broken.
  bool usable() const;
  u16 fail(u16 code, const std::string& text);
  // The interactive channel, or null when none is open.
  SessionChannel* interactive() const;
  // The text of a handshake wait that saw the disconnected state, with the
  // server's reason when it sent one.
  std::string disconnectedText() const;
  // Waits until the channel's send queue has gone out, within the time-out.
  void drainChannel(u32 number);
  // Moves up to count queued bytes (waiting for them) to out, or drops them.
  void readBlock(SessionChannel* channel, u32 count, std::ostream& out);
  // The time left of the client's time-out since timer started.
  u32 timeLeft(const zuTimer& timer) const;
  void pumpOnce(u32 ms);
  void closeChannelQuietly(u32 number);
  // One scp run on a session channel of its own: opens it (515 when it
  // cannot), runs body, closes it, and stores the status of what body raised.
  bool runScp(const std::function<void(u32 number)>& body);

  std::unique_ptr<zuSSHSession> session_;
  std::string expectedHostKey_;
  HostKeyCheck hostKeyCheck_;
  std::string hostKeyMd5_;
  std::string hostKeySha256_;
  zuErrorMessage lastError_;
};
