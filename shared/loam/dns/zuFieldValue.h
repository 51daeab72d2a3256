#pragma once
// One named value in a list of field values, as composed by zuFieldInfo and
// carried over the netobject protocol.
#include <string>

class zuNetReader;
class zuNetWriter;

struct zuFieldValue {
  std::string name;
  std::string value;
  bool flag = false;

  // Name, value, flag.
  void write(zuNetWriter& writer) const;
  // Overruns throw the reader's std::out_of_range with the value partly read.
  void read(zuNetReader& reader);
};
