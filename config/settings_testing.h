// Test support: the settings key seen through a plain wrapper, to check what
// the catalogue stores without going through it.
#pragma once

#include "platform/registry.h"
#include "regwrap/qr_registry.h"

// The key is created, so that values can be written to it directly.
inline QRRegistry RawSettings() {
  QRRegistry raw(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SOFTWARE\\Orrinvale\\Zondrel");
  raw.Open(1);
  raw.Close(0);
  return raw;
}
