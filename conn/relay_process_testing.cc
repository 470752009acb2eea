#include "conn/relay_process_testing.h"

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "config/cp_registry.h"
#include "conn/conn_testing.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/testing.h"

namespace conn_testing {

const char* const kRelayAgentsFile =
    "HTTP/1.0 200 OK\r\n\r\n7\r\n900,9\r\n1000,3\r\n2000,6\r\n66560,5\r\n66816,1\r\n66817,8\r\n67072,1\r\n";

namespace {

std::string DwordText(platform::DWORD value) {
  char text[16];
  std::snprintf(text, sizeof(text), "dword:%08x", value);
  return text;
}

}  // namespace

bool RunZondrelctl(const std::string& root, const std::vector<std::string>& arguments) {
  std::vector<std::string> argv;
  if (!root.empty()) argv = {"/usr/bin/env", "ZONDREL_ROOT=" + root};
  argv.push_back(testing_support::ProgramPath("zondrelctl"));
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return testing_support::Run(argv).exit_code == 0;
}

bool RelayProcess::WriteMachineSettings(const Settings& settings) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orrinvale\\Zondrel";
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n" + key + "]\r\n\"HomeDirectory\"=\"" + m_Home +
                     "\"\r\n\"RecvTimeout\"=" + DwordText(settings.recvTimeoutSeconds) +
                     "\r\n\"BeaconPort\"=dword:00000000\r\n\r\n" + key +
                     "\\Admin]\r\n\"WebPort\"=dword:00000000\r\n\"JavaPort\"=dword:00000000\r\n\r\n" + key +
                     "\\Comm]\r\n\"LISTEN1\"=\"" + settings.listenAddress + "," + std::to_string(m_Port) + "\"\r\n\r\n" +
                     key + "\\ThreadPools]\r\n\"MaxClientThreads\"=" + DwordText(settings.maxClientThreads) + "\r\n";
  if (settings.threadExpireMs != 0) text += "\"ThreadExpireTime\"=" + DwordText(settings.threadExpireMs) + "\r\n";
  if (settings.simulatorPort != 0) {
    text += "\r\n" + key + "\\IPList]\r\n\"IP:PORT-1\"=\"127.0.0.1," + std::to_string(settings.simulatorPort) + "\"\r\n";
  }
  const std::string file = m_Home + "settings.reg";
  testing_support::WriteFile(file, text + "\r\n" + settings.regText);
  return RunZondrelctl(settings.machineRoot, {"reg", "import", file});
}

bool RelayProcess::Start(const Settings& settings) {
  m_Home = testing_support::MakeTempDir("home") + "/";
  m_Port = settings.port != 0 ? settings.port : static_cast<unsigned short>(upstream_testing::FreeLoopbackPort());
  if (!platform::ParseDottedAddress(settings.listenAddress, &m_Address)) return false;
  testing_support::WriteFile(m_Home + "Agents.lst", kRelayAgentsFile);
  for (const auto& [name, contents] : settings.homeFiles) {
    std::filesystem::create_directories(std::filesystem::path(m_Home + name).parent_path());
    testing_support::WriteFile(m_Home + name, contents);
  }
  if (!settings.machineRoot.empty()) {
    if (!WriteMachineSettings(settings)) return false;
    if (!m_Process.Start({"/usr/bin/env", "ZONDREL_ROOT=" + settings.machineRoot,
                          testing_support::ProgramPath("zondrel"), "-d"},
                         m_Home + "console.txt")) {
      return false;
    }
    return WaitUntilRouting();
  }
  CPRegistry registry;
  registry.SetHomeDirectory(m_Home.c_str());
  registry.SetWebPort(0);
  registry.SetJavaPort(0);
  // No beacon unless the test gives it a free port of its own.
  registry.SetUDPBeaconPort(0);
  registry.SetServerLISTENIPPort(1, (settings.listenAddress + "," + std::to_string(m_Port)).c_str());
  registry.SetRecvTimeout(settings.recvTimeoutSeconds);
  registry.SetServerMaxClientThreads(settings.maxClientThreads);
  if (settings.threadExpireMs != 0) registry.SetThreadExpireTime(settings.threadExpireMs);
  if (settings.simulatorPort != 0) {
    registry.SetIPPort(1, ("127.0.0.1," + std::to_string(settings.simulatorPort)).c_str());
  }
  if (settings.configure) settings.configure(registry, m_Home);
  if (!settings.regText.empty()) {
    const std::string file = m_Home + "settings.reg";
    testing_support::WriteFile(file, "Windows Registry Editor Version 5.00\r\n\r\n" + settings.regText);
    if (!RunZondrelctl({}, {"reg", "import", file})) return false;
  }
  if (!m_Process.Start({testing_support::ProgramPath("zondrel"), "-d"}, m_Home + "console.txt")) return false;
  return WaitUntilRouting();
}

bool RelayProcess::WaitUntilRouting() {
  if (!upstream_testing::WaitForPort(m_Address, m_Port, std::chrono::seconds(20))) return false;
  // The agent list loads on a thread of its own: wait until it routes.
  for (int i = 0; i < 100; ++i) {
    if (upstream_testing::ExchangeWith(0, m_Address, m_Port, "GET /KIBO-1/900-1 HTTP/1.0\r\n\r\n")
            .rfind("HTTP/1.0 204 ", 0) == 0) {
      return true;
    }
    platform::Sleep(50);
  }
  return false;
}

std::string RelayProcess::LogText() const { return testing_support::ReadFile(m_Home + "Log/Tx000001.log"); }

std::string RelayProcess::ConsoleText() const { return testing_support::ReadFile(m_Home + "console.txt"); }

std::string RelayProcess::ProcPath(const char* what) const {
  return "/proc/" + std::to_string(Pid()) + "/" + what;
}

int RelayProcess::Threads() const {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ProcPath("task"))) {
    (void)entry;
    ++count;
  }
  return count;
}

int RelayProcess::Descriptors(bool registry) const {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ProcPath("fd"))) {
    std::error_code ignored;
    const bool ofRegistry =
        std::filesystem::read_symlink(entry.path(), ignored).string().find("/registry.db") != std::string::npos;
    count += ofRegistry == registry;
  }
  return count;
}

std::vector<std::string> LogFields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

std::vector<std::string> LogLine(const std::string& log, const std::string& uri) {
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    auto fields = LogFields(line);
    if (fields.size() == 11 && fields[4] == uri) return fields;
  }
  return {};
}

}  // namespace conn_testing
