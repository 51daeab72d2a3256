#pragma once
// Prompts on the console: a warning with a choice of answers, and reading a
// line, also without echo for passwords.
#include <string>

#include "loam/base/zuMessage.h"
#include "loam/platform/zuTypes.h"

class zuConsole {
 public:
  // Kinds of ask and their answers.
  static constexpr u32 kOkCancel = 1;     // "O" 1, "C" 2
  static constexpr u32 kYesNo = 2;        // "Y" 5, "N" 6
  static constexpr u32 kYesNoCancel = 3;  // "Y" 3, "N" 4, "C" 2
  static constexpr u32 kMaxLine = 255;

  zuConsole() = delete;

  // Shows "Warning: " and the text with the kind's choice and reads answers
  // until one begins with an offered letter (either case). Any other kind
  // offers nothing and gives 1 after one line. When the input ends first,
  // the answer is Cancel (2), or No (6) for kind 2. Style and flag have no
  // effect.
  static u32 ask(u32 kind, u32 style, const std::string& text, u32 flag);
  static u32 ask(u32 kind, u32 style, const char* text, u32 flag) {
    return ask(kind, style, std::string(text ? text : ""), flag);
  }
  static u32 ask(u32 kind, u32 style, const zuMessage& message, u32 flag);
  // Kind 0: shows the message and waits for a line.
  static u32 ask(const zuMessage& message);
  // ask(message) unless the message formats to an empty text.
  static void showMessage(const zuMessage& message);

  // Writes the prompt and reads a line into out, of at most kMaxLine bytes
  // when not hidden. Hidden: key presses without echo up to Ctrl-C, Ctrl-D,
  // CR or LF; backspace takes back the last byte, cursor and function keys
  // are dropped, and an end of line is written at the end. False when the
  // input ended before anything was read.
  static bool readLine(const std::string& prompt, std::string& out, bool hidden);
};
