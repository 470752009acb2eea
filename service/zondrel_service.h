// ZondrelService: the relay as a service. It names the service, registers
// the performance library at install, and starts, runs and stops the server
// through the service controller.
#pragma once

#include <memory>

#include "platform/sync.h"
#include "service/nt_service.h"
#include "service/service_controller.h"

class ZondrelService : public CNTService {
 public:
  ZondrelService();
  ~ZondrelService() override;

  int Install() override;
  void Run() override;
  int OnInit() override;
  void OnStop() override;
  void OnShutdown() override;

 private:
  std::unique_ptr<platform::Event> m_hTerminateEvent;
  std::unique_ptr<ServiceController> m_pServiceController;
};
