#include "loam/base/zuMessageCatalog.h"

#include <map>

#include "loam/platform/zuInitOrder.h"
#include "loam/platform/zuPlatformInitTrace.h"

namespace {
ZU_INIT_ORDER(ZU_INIT_MESSAGE_CATALOG) std::map<u32, const char*> g_catalog;
ZU_INIT_ORDER(ZU_INIT_MESSAGE_CATALOG) zuPlatform::InitNote g_catalogNote{ZU_INIT_MESSAGE_CATALOG};
}  // namespace

void zuMessageCatalog::set(u32 id, const char* text) { g_catalog[id] = text ? text : ""; }

void zuMessageCatalog::registerTable(const zuMessageCatalogEntry* entries) {
  for (; entries && entries->id != 0; ++entries) set(entries->id, entries->text);
}

const char* zuMessageCatalog::text(u32 id) {
  if (id == 0) return "";
  auto it = g_catalog.find(id);
  return it == g_catalog.end() ? "" : it->second;
}

void zuMessageCatalog::clear() { g_catalog.clear(); }
