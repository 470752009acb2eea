// CServiceConnMgr: a listener whose connections go straight to a pool of
// CConnectionThreads, each served by one CConnectionService (the
// administration web server, the Java administration protocol). The
// threads read their own requests, within the receive timeout per read and
// twice that for the whole first request.
#pragma once

#include "conn/conn_mgr.h"

class CConnectionService;

class CServiceConnMgr : public CConnMgr {
 public:
  // `pool` (of CConnectionThreads) and `service` are borrowed.
  CServiceConnMgr(QRPoolManager* pool, CConnectionService* service) : CConnMgr(pool), m_pService(service) {}

 protected:
  bool CollectsRequests() const override { return false; }
  int IssueConnection(platform::SOCKET socket, std::shared_ptr<CCollectedRequest> request) override;

 private:
  CConnectionService* m_pService;
};
