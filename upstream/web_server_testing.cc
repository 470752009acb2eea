#include "upstream/web_server_testing.h"

#include <chrono>
#include <thread>

#include <cstdlib>
#include <filesystem>

#include "platform/testing.h"

namespace upstream_testing {

void UseTestTemporaryDirectory() {
  static const bool set = ::setenv("TMPDIR", testing_support::MakeTempDir("tmp").c_str(), 1) == 0;
  (void)set;
}

std::string WebServer::Program(Kind kind) { return FindProgram(kind == Kind::kLighttpd ? "lighttpd" : "nginx"); }

const char* WebServer::Package(Kind kind) { return kind == Kind::kLighttpd ? "lighttpd" : "nginx"; }

namespace {

// lighttpd's Basic authentication of one path, from a plain user file.
std::string AuthConfig(const WebServer::Options& options, const std::string& dir) {
  if (options.protectedPath.empty()) return {};
  testing_support::WriteFile(dir + "/users", options.user + ":" + options.password + "\n");
  return "server.modules += (\"mod_auth\", \"mod_authn_file\")\nauth.backend = \"plain\"\n"
         "auth.backend.plain.userfile = \"" + dir + "/users\"\nauth.require = (\"" + options.protectedPath +
         "\" => (\"method\" => \"basic\", \"realm\" => \"test\", \"require\" => \"valid-user\"))\n";
}

}  // namespace

bool WebServer::Start(Kind kind, const Options& options) {
  const std::string program = Program(kind);
  if (program.empty()) return false;
  dir_ = testing_support::MakeTempDir(Package(kind));
  root_ = dir_ + "/doc/";
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(dir_ + "/tmp");
  port_ = FreeLoopbackPort();
  const std::string port = std::to_string(port_);
  std::vector<std::string> argv;
  if (kind == Kind::kLighttpd) {
    testing_support::WriteFile(dir_ + "/server.conf",
                               "server.document-root = \"" + root_ + "\"\nserver.port = " + port +
                                   "\nserver.bind = \"127.0.0.1\"\nserver.errorlog = \"" + dir_ +
                                   "/error.log\"\nserver.modules += (\"mod_accesslog\")\naccesslog.filename = \"" +
                                   dir_ + "/access.log\"\n" + AuthConfig(options, dir_) +
                                   options.lighttpdConfig);
    argv = {program, "-D", "-f", dir_ + "/server.conf"};
  } else {
    const std::string tmp = dir_ + "/tmp";
    testing_support::WriteFile(
        dir_ + "/server.conf",
        "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + dir_ + "/nginx.pid;\nerror_log " + dir_ +
            "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log " + dir_ +
            "/access.log;\n  client_body_temp_path " + tmp + ";\n  proxy_temp_path " + tmp +
            ";\n  fastcgi_temp_path " + tmp + ";\n  uwsgi_temp_path " + tmp + ";\n  scgi_temp_path " + tmp +
            ";\n  if_modified_since before;\n  server { listen 127.0.0.1:" + port + "; root " + root_ + "; }\n}\n");
    argv = {program, "-c", dir_ + "/server.conf", "-e", dir_ + "/error.log", "-p", dir_};
  }
  argv_ = argv;
  return Restart();
}

bool WebServer::Restart() {
  return process_.Start(argv_, dir_ + "/output.log") && WaitForPort(port_) && process_.Running();
}

std::string WebServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string WebServer::AccessLog() const { return testing_support::ReadFile(dir_ + "/access.log"); }

bool WebServer::AccessLogShows(const std::string& text) const {
  for (int i = 0; i < 100; ++i) {
    if (AccessLog().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string WebServer::ErrorLog() const {
  return testing_support::ReadFile(dir_ + "/error.log") + testing_support::ReadFile(dir_ + "/output.log");
}

bool ProxyServer::Start(const std::string& user, const std::string& password) {
  const std::string program = Program();
  if (program.empty()) return false;
  dir_ = testing_support::MakeTempDir("tinyproxy");
  port_ = FreeLoopbackPort();
  testing_support::WriteFile(dir_ + "/tinyproxy.conf", "Port " + std::to_string(port_) +
                                                           "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                                                           "Allow 127.0.0.1\nBasicAuth " +
                                                           user + " " + password + "\nLogLevel Info\n");
  return process_.Start({program, "-d", "-c", dir_ + "/tinyproxy.conf"}, dir_ + "/tinyproxy.log") &&
         WaitForPort(port_) && process_.Running();
}

std::string ProxyServer::Log() const { return testing_support::ReadFile(dir_ + "/tinyproxy.log"); }

}  // namespace upstream_testing
