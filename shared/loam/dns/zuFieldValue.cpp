#include "loam/dns/zuFieldValue.h"

#include "loam/netobjects/zuNetReader.h"
#include "loam/netobjects/zuNetWriter.h"

void zuFieldValue::write(zuNetWriter& writer) const {
  writer.putString(name);
  writer.putString(value);
  writer.putBool(flag);
}

void zuFieldValue::read(zuNetReader& reader) {
  name = reader.getStdString();
  value = reader.getStdString();
  flag = reader.getBool();
}
