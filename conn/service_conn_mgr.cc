#include "conn/service_conn_mgr.h"

#include "conn/connection_thread.h"
#include "poolmgr/pool_manager.h"
#include "poolmgr/pool_results.h"

int CServiceConnMgr::IssueConnection(platform::SOCKET socket, std::shared_ptr<CCollectedRequest> request) {
  if (Pool() == nullptr) return poolmgr::kPoolNotOpen;
  CConnectionJob job;
  job.m_Socket = socket;
  job.m_Collected = std::move(request);
  job.m_Service = m_pService;
  return Pool()->IssueThread(&job, 1);
}
