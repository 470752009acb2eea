// The zondrel program as a user meets it: switches, installation, debug
// mode and the service control.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "admin/file_agent.h"
#include "config/cp_registry.h"
#include "platform/event_store.h"
#include "platform/service_control.h"
#include "platform/sync.h"
#include "platform/testing.h"
#include "regwrap/qr_registry.h"
#include "upstream/peer_process_testing.h"

namespace {

using testing_support::ProgramPath;
using testing_support::Run;

testing_support::RunResult Zondrel(const std::vector<std::string>& args, const std::string& input = {}) {
  std::vector<std::string> argv = {ProgramPath("zondrel")};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv, input, std::chrono::seconds(90));
}

DWORD ServiceState() {
  platform::SC_HANDLE manager = platform::OpenSCManager(nullptr, platform::SC_MANAGER_ALL_ACCESS);
  platform::SC_HANDLE service = platform::OpenService(manager, "Zondrel", platform::SERVICE_QUERY_STATUS);
  platform::SERVICE_STATUS status;
  DWORD state = 0;
  if (service != nullptr && platform::QueryServiceStatus(service, &status)) state = status.dwCurrentState;
  if (service != nullptr) platform::CloseServiceHandle(service);
  platform::CloseServiceHandle(manager);
  return state;
}

bool WaitForState(DWORD state, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (ServiceState() == state) return true;
    platform::Sleep(50);
  }
  return false;
}

// The service frame's own events (ids 0x5F0 to 0x5FF); the server's parts,
// such as the agent list that finds no list on a fresh machine, add theirs.
std::vector<DWORD> EventIds() {
  std::vector<DWORD> ids;
  for (const auto& record : platform::ReadEventRecords()) {
    if ((record.id & 0xFFF0) == 0x5F0) ids.push_back(record.id);
  }
  return ids;
}

// The server's viewer listener stays on loopback, on a port nobody else uses.
class LoopbackListener : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string address = "127.0.0.1," + std::to_string(upstream_testing::FreeLoopbackPort());
    CPRegistry settings;
    settings.SetServerLISTENIPPort(1, address.c_str());
    // Tests run side by side: no fixed administration ports.
    settings.SetWebPort(0);
    settings.SetUDPBeaconPort(0);
    settings.SetJavaPort(0);
  }
};
[[maybe_unused]] const auto* const kLoopbackListener = ::testing::AddGlobalTestEnvironment(new LoopbackListener);

TEST(ZondrelProgram, SwitchesUsageAndVersion) {
  auto usage = Zondrel({"-?"});
  EXPECT_EQ(usage.exit_code, 0);
  EXPECT_EQ(usage.output.rfind("Zondrel\n" + ProgramPath("zondrel") + " [ -? | -v | -d | -i | -u ]\n", 0), 0u)
      << usage.output;
  EXPECT_NE(usage.output.find("  -c n : Send control value (unimplemented)\n"), std::string::npos);
  EXPECT_EQ(Zondrel({"/H"}).output, usage.output);

  const std::string version = "Zondrel Version 1.1\nThe service is not installed\n";
  EXPECT_EQ(Zondrel({"-v"}).output, version);
  EXPECT_EQ(Zondrel({"-V"}).output, version);
  EXPECT_EQ(Zondrel({"/v"}).output, version);
  EXPECT_EQ(Zondrel({"-q"}).output, "");

  // Not a switch: the program starts as a service, and from a console that
  // means debug mode.
  auto started = Zondrel({"-vv"}, "s\n");
  EXPECT_NE(started.output.find("You are currently debugging the service\n"), std::string::npos);
}

TEST(ZondrelProgram, InstallAndRemove) {
  auto install = Zondrel({"-i"});
  EXPECT_EQ(install.output, "Zondrel installed\n");
  EXPECT_EQ(Zondrel({"-v"}).output, "Zondrel Version 1.1\nThe service is currently installed\n");
  EXPECT_EQ(Zondrel({"-i", "filename.key"}).output, "Zondrel is already installed\n");

  QRRegistry services(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Services");
  EXPECT_EQ(services.GetValue("Zondrel\\ImagePath", ""), "\"" + ProgramPath("zondrel") + "\"");
  EXPECT_EQ(services.GetValue("Zondrel\\Performance\\Open", ""), "OpenZondrelPerf");
  EXPECT_EQ(services.GetValue("Zondrel\\Performance\\Collect", ""), "CollectZondrelPerf");
  EXPECT_EQ(services.GetValue("Zondrel\\Performance\\Close", ""), "CloseZondrelPerf");
  EXPECT_EQ(services.GetValue("EventLog\\Application\\zondrel\\TypesSupported", DWORD{0}), 15u);
  // The console where the administration web server serves it, with the
  // content types of its files.
  const std::string java = CFileAgent::JavaDirectory(CPRegistry());
  EXPECT_EQ(testing_support::ReadFile(java + "index.html"), testing_support::ReadFile(testing_support::SourcePath("console/index.html")));
  EXPECT_EQ(QRRegistry(QRRegistry(platform::HKEY_CLASSES_ROOT), ".css").GetValue("Content Type", ""), "text/css");

  auto remove = Zondrel({"-u"});
  EXPECT_EQ(remove.output, "Zondrel removed. (You must delete the file (" + ProgramPath("zondrel") +
                               ") yourself.)\n");
  EXPECT_EQ(Zondrel({"-u"}).output, "Zondrel is not installed\n");
  // The Performance key stays; the event source goes.
  EXPECT_TRUE(services.DoesKeyExist("Zondrel\\Performance"));
  EXPECT_FALSE(services.DoesKeyExist("EventLog\\Application\\zondrel"));
  EXPECT_EQ(EventIds(), (std::vector<DWORD>{0xC00005F0, 0xC00005F1}));
}

TEST(ZondrelProgram, DebugModeReportsEveryStepAndStopsOnS) {
  auto run = Zondrel({"-d"}, "s\n");
  EXPECT_EQ(run.exit_code, 0);
  const std::string& out = run.output;
  for (const char* line : {
           "Zondrel Version 1.1\n", "The service is not installed\n", "Menu: (For simulated SCM functions)\n",
           "  any number - Simulates sending that number to Handler\n",
           "Service status = (2, 1) Creating Termination Event\n",
           "Service status = (2, 2) Creating Service Controller\n",
           "Service status = (2, 3) Creating Transaction Log and Agents List\n",
           "Service status = (2, 15) Creating Java Connection Manager\n", "Service status = (4, 0) Running\n",
           "Service status = (3, 0) Stop Pending\n", "Service status = (3, 1) Stopping Service Controller\n",
           "Service status = (3, 2) Terminating All HTTP Streams\n",
           "Service status = (3, 16) Destroying Service Controller\n", "Service status = (1, 0) \n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << out;
  }
  EXPECT_LT(out.find("(4, 0) Running"), out.find("(3, 0) Stop Pending"));
  EXPECT_EQ(EventIds(), (std::vector<DWORD>{0xC00005F5, 0xC00005F8}));
}

TEST(ZondrelProgram, DebugModeLogsUnknownControlsAndStopsOnATerminationSignal) {
  int input[2];
  ASSERT_EQ(::pipe(input), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(input[0], 0);
    ::close(input[1]);
    int null_out = ::open("/dev/null", O_WRONLY);
    ::dup2(null_out, 1);
    std::string program = ProgramPath("zondrel");
    ::execl(program.c_str(), program.c_str(), "-d", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(input[0]);
  // Two controls the service refuses, then the console input ends: from then
  // on only a termination signal stops the server.
  ASSERT_EQ(::write(input[1], "x\n77\n", 6), 6);
  ::close(input[1]);
  for (int i = 0; i < 200 && EventIds().size() < 3; ++i) platform::Sleep(50);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  for (int i = 0; i < 300 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) platform::Sleep(50);
  if (!WIFEXITED(status)) ::kill(pid, SIGKILL);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  auto ids = EventIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0xC00005F6), 2);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0xC00005F8), 1);
}

// Ends a service process this test started, should the test fail midway.
struct ServiceProcessGuard {
  ~ServiceProcessGuard() {
    std::ifstream status_file(testing_support::TestRoot() + "/services/Zondrel/status");
    int pid = 0;
    if (status_file >> pid && pid > 1 && ServiceState() != platform::SERVICE_STOPPED) ::kill(pid, SIGKILL);
  }
};

TEST(ZondrelProgram, StartAndStopThroughTheServiceControl) {
  ServiceProcessGuard guard;
  ASSERT_EQ(Zondrel({"-i"}).output, "Zondrel installed\n");
  EXPECT_EQ(Zondrel({"-e"}).output, "Unable to stop service\n");
  EXPECT_EQ(Zondrel({"-s"}).output, "Starting service [Zondrel]...\n");
  ASSERT_TRUE(WaitForState(platform::SERVICE_RUNNING, 30));
  EXPECT_EQ(Zondrel({"-s"}).output, "Cannot start service [Zondrel]; it is not stopped!\n");

  QRRegistry service(QRRegistry(platform::HKEY_LOCAL_MACHINE), "SYSTEM\\CurrentControlSet\\Services\\Zondrel");
  EXPECT_TRUE(service.DoesValueExist("ServiceStatus"));

  EXPECT_EQ(Zondrel({"-e"}).output, "Service Stopped\n");
  ASSERT_TRUE(WaitForState(platform::SERVICE_STOPPED, 30));
  EXPECT_FALSE(service.DoesValueExist("ServiceStatus"));

  // SIGTERM acts as the stop control.
  EXPECT_EQ(Zondrel({"-s"}).output, "Starting service [Zondrel]...\n");
  ASSERT_TRUE(WaitForState(platform::SERVICE_RUNNING, 30));
  std::ifstream status_file(testing_support::TestRoot() + "/services/Zondrel/status");
  int pid = 0;
  status_file >> pid;
  ASSERT_GT(pid, 1);
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  ASSERT_TRUE(WaitForState(platform::SERVICE_STOPPED, 30));

  auto ids = EventIds();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0xC00005F5), 2);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0xC00005F8), 2);
}

}  // namespace
