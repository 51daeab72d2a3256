#pragma once
// Base of the library's text writers: an output stream (handed in, or a file
// the writer opened and owns) with tab indentation and line breaks that never
// open a document with an empty line.
#include <memory>
#include <ostream>
#include <string>

#include "loam/platform/zuTypes.h"

class zuWriter {
 public:
  zuWriter() = default;
  // Writes to the stream without owning it.
  explicit zuWriter(std::ostream* stream);
  // Opens the file; see open.
  explicit zuWriter(const std::string& fileName);
  virtual ~zuWriter();

  zuWriter(const zuWriter&) = delete;
  zuWriter& operator=(const zuWriter&) = delete;

  // Lets the current stream go (deleting it when owned) and takes this one;
  // the line count starts again. Handing in the current stream only updates
  // its name and ownership.
  void setStream(std::ostream* stream, const std::string& name, bool owns);
  // Creates or truncates the file for binary output (bare LF line ends) and
  // takes it as an owned stream. On failure the writer still holds a stream,
  // one that is not open.
  bool open(const std::string& fileName);
  void close();
  // False without a stream; a file stream must have its file open, any other
  // stream must be in a good state.
  bool isOpen() const;

  // n tabs; nothing for n below 1.
  void indent(i16 n);
  // n line breaks, each flushed; the very first break after setStream is
  // counted but not written. False for n = 0 or without a stream.
  bool newLines(u32 n);

  std::ostream* stream() const { return m_stream; }
  const std::string& fileName() const { return m_fileName; }
  bool ownsStream() const { return m_owned != nullptr; }
  // Line breaks since the stream was set, the suppressed first one included.
  u32 lines() const { return m_lines; }

 private:
  std::ostream* m_stream = nullptr;
  std::string m_fileName;
  std::unique_ptr<std::ostream> m_owned;
  u32 m_lines = 0;
};
