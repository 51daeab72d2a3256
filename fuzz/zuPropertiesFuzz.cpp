// The entry and document readers over arbitrary bytes: they must never crash,
// whatever they read must be accepted by the writers, and what is written
// must read back to the same values, consuming the whole text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <list>
#include <sstream>
#include <string>

#include "loam/base/zuProperties.h"

namespace {

bool sameEntries(const zuProperties& a, const zuProperties& b) {
  if (a.count() != b.count() || a.name() != b.name()) return false;
  std::string an, av, bn, bv;
  for (u32 i = 0; i < a.count(); ++i) {
    if (!a.getAt(i, an, av) || !b.getAt(i, bn, bv)) return false;
    if (an != bn || av != bv || b.valueRef(an) != av) return false;
  }
  return true;
}

bool atEnd(std::istream& in) { return in.rdbuf()->sgetc() == std::char_traits<char>::eof(); }

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool lineEnds = size > 0 && (data[0] & 1) != 0;

  zuProperties props;
  std::istringstream in(text);
  props.readXml(in);
  std::ostringstream written;
  check(props.writeEntries(written, lineEnds));
  zuProperties back;
  std::istringstream again(written.str());
  check(back.readXml(again) && atEnd(again) && sameEntries(props, back));

  zuProperties fromText;
  fromText.fromString(text);

  std::list<zuProperties> doc;
  std::istringstream docIn(text);
  zuProperties::readDocument(docIn, doc);
  std::ostringstream docOut;
  check(zuProperties::writeDocument(docOut, doc, lineEnds));
  std::list<zuProperties> docBack;
  std::istringstream docAgain(docOut.str());
  check(zuProperties::readDocument(docAgain, docBack) && atEnd(docAgain));
  check(doc.size() == docBack.size());
  for (auto a = doc.begin(), b = docBack.begin(); a != doc.end(); ++a, ++b)
    check(sameEntries(*a, *b));
  return 0;
}
