#include "tools/java_command.h"

#include <cstdint>
#include <iostream>
#include <cstdlib>
#include <memory>
#include <optional>

#include "config/cp_registry.h"
#include "platform/file.h"
#include "platform/socket.h"

namespace zondrelctl {
namespace {

constexpr platform::DWORD kWaitMs = 30000;
constexpr std::uint32_t kMaxPayload = 16u << 20;

struct Command {
  const char* name;
  std::uint32_t code;
  enum Request { kValue, kFile, kLength } request;
};
constexpr Command kCommands[] = {
    {"get-flash", 0x101, Command::kLength},     {"put-flash", 0x102, Command::kFile},
    {"put-corp", 0x105, Command::kFile},        {"get-corp", 0x106, Command::kValue},
    {"get-groups", 0x109, Command::kValue},     {"animations", 0x10C, Command::kValue},
    {"corp-enabled", 0x10D, Command::kValue},   {"get-redirect", 0x10F, Command::kValue},
    {"put-redirect", 0x110, Command::kFile},
};

void AppendNumber(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value >> 24);
  out += static_cast<char>(value >> 16);
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value);
}

bool SendAll(platform::SOCKET socket, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const int sent = platform::Send(socket, data.data() + done, data.size() - done);
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

bool ReceiveAll(platform::SOCKET socket, char* buffer, std::size_t length) {
  while (length > 0) {
    if (platform::WaitReadable(socket, kWaitMs) != 1) return false;
    const int got = platform::Recv(socket, buffer, length);
    if (got <= 0) return false;
    buffer += got;
    length -= static_cast<std::size_t>(got);
  }
  return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::kRead);
  if (file == nullptr || file->Size() < 0 || file->Size() > kMaxPayload) return std::nullopt;
  std::string text(static_cast<std::size_t>(file->Size()), '\0');
  if (file->Read(text.data(), text.size()) != static_cast<long long>(text.size())) return std::nullopt;
  return text;
}

int Usage() {
  std::cerr << "ERROR: usage: zondrelctl java [--host ADDRESS] [--port PORT] COMMAND [FILE]\n"
               "       COMMAND: get-flash, put-flash FILE, get-corp, put-corp FILE, get-groups, animations,\n"
               "                corp-enabled, get-redirect, put-redirect FILE\n";
  return 1;
}

}  // namespace

int RunJavaCommand(const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string host = "127.0.0.1";
  CPRegistry settings;
  unsigned long port = settings.GetJavaPort();
  while (args.size() >= 2 && (args[0] == "--host" || args[0] == "--port")) {
    if (args[0] == "--host") host = args[1];
    if (args[0] == "--port") port = std::strtoul(args[1].c_str(), nullptr, 10);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return Usage();
  const Command* command = nullptr;
  for (const Command& known : kCommands) {
    if (args[0] == known.name) command = &known;
  }
  if (command == nullptr || (command->request == Command::kFile) != (args.size() == 2) || args.size() > 2 ||
      port == 0 || port > 65535) {
    return Usage();
  }
  std::string request;
  AppendNumber(request, command->code);
  if (command->request == Command::kFile) {
    const std::optional<std::string> text = ReadWholeFile(args[1]);
    if (!text) {
      std::cerr << "ERROR: cannot read " << args[1] << "\n";
      return 1;
    }
    AppendNumber(request, static_cast<std::uint32_t>(text->size()));
    request += *text;
  } else {
    AppendNumber(request, 0);  // the value, or an empty payload
  }

  const std::vector<std::uint32_t> addresses = platform::ResolveHost(host);
  platform::SOCKET socket = platform::TcpSocket();
  bool done = false;
  std::string payload;
  std::uint32_t status = 0;
  if (!addresses.empty() && socket != platform::kInvalidSocket &&
      platform::Connect(socket, platform::SocketAddress{addresses.front(), static_cast<std::uint16_t>(port)},
                        kWaitMs) == 0 &&
      SendAll(socket, request)) {
    unsigned char header[12];
    if (ReceiveAll(socket, reinterpret_cast<char*>(header), sizeof(header))) {
      const auto number = [&](int at) {
        return (static_cast<std::uint32_t>(header[at]) << 24) | (static_cast<std::uint32_t>(header[at + 1]) << 16) |
               (static_cast<std::uint32_t>(header[at + 2]) << 8) | header[at + 3];
      };
      status = number(4);
      const std::uint32_t length = number(8);
      if (number(0) == command->code + 0x200 && length <= kMaxPayload) {
        payload.assign(length, '\0');
        done = ReceiveAll(socket, payload.data(), length);
      }
    }
  }
  if (socket != platform::kInvalidSocket) platform::CloseSocket(socket);
  if (!done) {
    std::cerr << "ERROR: no answer from " << host << " port " << port << "\n";
    return 1;
  }
  if (status != 0) {
    std::cerr << "ERROR: the relay answered status 0x" << std::hex << status << "\n";
    return 1;
  }
  if (command->code == 0x10D && payload.size() == 4) {
    std::cout << ((static_cast<unsigned char>(payload[3]) | static_cast<unsigned char>(payload[2])) != 0 ? 1 : 0)
              << "\n";
  } else {
    std::cout << payload;
  }
  return 0;
}

}  // namespace zondrelctl
