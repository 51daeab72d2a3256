#include "loam/base/zuWriter.h"

#include <fstream>

#include "loam/platform/zuPlatformOutputFile.h"

zuWriter::zuWriter(std::ostream* stream) : m_stream(stream) {}

zuWriter::zuWriter(const std::string& fileName) { open(fileName); }

zuWriter::~zuWriter() = default;

void zuWriter::setStream(std::ostream* stream, const std::string& name, bool owns) {
  if (stream != nullptr && stream == m_stream) {
    // Deleting it first would leave us pointing at a freed stream.
    if (owns && !m_owned) m_owned.reset(stream);
    if (!owns && m_owned) (void)m_owned.release();
    m_fileName = name;
    return;
  }
  m_owned.reset();
  m_stream = stream;
  if (owns && stream != nullptr) m_owned.reset(stream);
  m_fileName = name;
  m_lines = 0;
}

bool zuWriter::open(const std::string& fileName) {
  // Let the old stream go first, so its buffered text cannot land in a file
  // of the same name after this one truncated it.
  close();
  setStream(zuPlatform::openOutputFile(fileName).release(), fileName, true);
  return isOpen();
}

void zuWriter::close() { setStream(nullptr, std::string(), false); }

bool zuWriter::isOpen() const {
  if (m_stream == nullptr) return false;
  if (const auto* file = dynamic_cast<const std::filebuf*>(m_stream->rdbuf())) {
    return file->is_open();
  }
  return m_stream->good();
}

void zuWriter::indent(i16 n) {
  if (m_stream == nullptr) return;
  for (i16 i = 0; i < n; ++i) m_stream->put('\t');
}

bool zuWriter::newLines(u32 n) {
  if (n == 0 || m_stream == nullptr) return false;
  for (u32 i = 0; i < n; ++i) {
    if (m_lines++ == 0) continue;
    m_stream->put('\n');
    m_stream->flush();  // sets badbit when the flush fails
  }
  return true;
}
