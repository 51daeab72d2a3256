#include "loam/dns/zuRecordCollection.h"

zuRecordCollection::zuRecordCollection(const char* origin)
    : m_origin(origin == nullptr ? "" : origin) {}

zuRecordCollection::zuRecordCollection(const std::string& origin) : m_origin(origin) {}
