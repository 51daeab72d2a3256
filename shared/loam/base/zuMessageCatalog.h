#pragma once
// The process-wide table of message texts by id. Nothing in the system fills
// it; a program may register its own texts before other threads start.
#include "loam/platform/zuTypes.h"

struct zuMessageCatalogEntry {
  u32 id;
  const char* text;
};

class zuMessageCatalog {
 public:
  static void set(u32 id, const char* text);
  // Registers entries up to the first whose id is 0.
  static void registerTable(const zuMessageCatalogEntry* entries);
  // The registered text; the empty text for 0 and for unknown ids.
  static const char* text(u32 id);
  // Empties the catalog (for tests).
  static void clear();
};
