#include "loam/threads/zuConsole.h"

#include "loam/base/zuString.h"
#include "loam/platform/zuPlatformConsole.h"

namespace {

constexpr u32 kCancel = 2;
constexpr u32 kNo = 6;

constexpr int kCtrlC = 3;
constexpr int kCtrlD = 4;
constexpr int kBackspace = 8;

bool readHidden(zuPlatform::ConsoleKeyReader& keys, std::string& out) {
  bool any = false;
  for (;;) {
    const int key = keys.next();
    if (key == zuPlatform::ConsoleKeyReader::kEnd) break;
    any = true;
    if (key == kCtrlC || key == kCtrlD || key == '\r' || key == '\n') break;
    if (key == zuPlatform::ConsoleKeyReader::kDropped) continue;
    if (key == kBackspace) {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(static_cast<char>(key));
  }
  zuPlatform::writeConsole("\n");
  return any;
}

}  // namespace

u32 zuConsole::ask(u32 kind, u32 /*style*/, const std::string& text, u32 /*flag*/) {
  const char* choice = " ";
  const char* letters = "";
  switch (kind) {
    case kOkCancel:
      choice = " [Ok/Cancel] ";
      letters = "OC";
      break;
    case kYesNo:
      choice = " [Yes/No] ";
      letters = "YN";
      break;
    case kYesNoCancel:
      choice = " [Yes/No/Cancel] ";
      letters = "YNC";
      break;
    default:
      break;
  }
  const std::string prompt = "Warning: " + text + choice;
  const std::string offered(letters);
  std::string answer;
  for (;;) {
    zuPlatform::writeConsole(prompt);
    const bool read = zuPlatform::readConsoleLine(answer, kMaxLine);
    if (offered.empty()) return 1;
    if (!read) return kind == kYesNo ? kNo : kCancel;
    // An empty answer offers no letter and asks again.
    if (answer.empty()) continue;
    const char letter = static_cast<char>(zuToUpper(static_cast<unsigned char>(answer[0])));
    if (offered.find(letter) == std::string::npos) continue;
    switch (letter) {
      case 'C':
        return kCancel;
      case 'O':
        return 1;
      case 'Y':
        return kind == kYesNoCancel ? 3 : 5;
      default:  // 'N'
        return kind == kYesNoCancel ? 4 : kNo;
    }
  }
}

u32 zuConsole::ask(u32 kind, u32 style, const zuMessage& message, u32 flag) {
  return ask(kind, style, message.toString(), flag);
}

u32 zuConsole::ask(const zuMessage& message) { return ask(0, 0, message, 1); }

void zuConsole::showMessage(const zuMessage& message) {
  const std::string text = message.toString();
  if (!text.empty()) ask(0, 0, text, 1);
}

bool zuConsole::readLine(const std::string& prompt, std::string& out, bool hidden) {
  out.clear();
  if (!hidden) {
    zuPlatform::writeConsole(prompt);
    return zuPlatform::readConsoleLine(out, kMaxLine);
  }
  // The terminal goes quiet before the prompt shows, so nothing typed after
  // the prompt is ever echoed.
  zuPlatform::ConsoleKeyReader keys;
  zuPlatform::writeConsole(prompt);
  return readHidden(keys, out);
}
