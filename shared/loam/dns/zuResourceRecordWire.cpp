// Both wire forms of a resource record.
#include "loam/dns/zuResourceRecordWire.h"

void zuResourceRecord::write(zuNetWriter& writer) const {
  writer.putUInt32(m_id);
  writer.putString(m_name);
  writer.putString(m_ttl);
  writer.putUInt16(static_cast<u16>(m_type));
  writer.putString(m_data);
  writer.putString(comment());
  writer.putBool(m_enabled);
}

void zuResourceRecord::read(zuNetReader& reader) {
  if (m_stored) {
    // It cannot leave its collection: read apart, then assigned.
    zuResourceRecord fresh;
    fresh.read(reader);
    *this = fresh;
    return;
  }
  m_collection = nullptr;
  if (m_extras) {
    m_extras->aging.clear();
    m_extras->properties.clear();
  }
  m_id = reader.getUInt32();
  m_name = reader.getStdString();
  m_ttl = reader.getStdString();
  m_type = reader.getUInt16();
  m_data = reader.getStdString();
  setComment(reader.getStdString());
  m_enabled = reader.getBool();
}

zuNetWriter& operator<<(zuNetWriter& writer, const zuResourceRecord& record) {
  writer.putString(record.name());
  writer.putString(record.TTL());
  writer.putUInt16(static_cast<u16>(record.type()));
  writer.putString(record.data());
  writer.putString(record.comment());
  writer.putString(record.aging());
  writer.putBool(record.enabled());
  writer.putUInt32(record.id());
  return writer;
}

zuNetReader& operator>>(zuNetReader& reader, zuResourceRecord& record) {
  record.setName(reader.getStdString());
  record.setTTL(reader.getStdString());
  record.setType(reader.getUInt16());
  record.setData(reader.getStdString());
  record.setComment(reader.getStdString());
  record.setAging(reader.getStdString());
  record.setEnabled(reader.getBool());
  record.setId(reader.getUInt32());
  return reader;
}
