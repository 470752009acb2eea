// The parameters of one pool job. The pool copies the caller's object into
// the thread's own with Assign, so a derived class overrides Assign to copy
// every field it adds.
#pragma once

#include "platform/types.h"

class QRThreadParams {
 public:
  QRThreadParams() = default;
  explicit QRThreadParams(platform::DWORD value) : m_Value(value) {}
  QRThreadParams(const QRThreadParams& other) = default;
  QRThreadParams& operator=(const QRThreadParams& other) = default;
  virtual ~QRThreadParams();

  // Returns 0.
  virtual int Assign(const QRThreadParams& other);

  platform::DWORD m_Value = 0;
};
