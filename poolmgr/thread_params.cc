#include "poolmgr/thread_params.h"

QRThreadParams::~QRThreadParams() = default;

int QRThreadParams::Assign(const QRThreadParams& other) {
  m_Value = other.m_Value;
  return 0;
}
