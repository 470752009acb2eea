// Sends an answer made of several byte pieces (the prefix, then each cached
// item's memory) without copying them together. Each step hands the socket
// as many pieces as it takes in one system call; only a full socket makes it
// wait, at most the given time for room to write.
#pragma once

#include <cstddef>
#include <span>

#include "platform/socket.h"
#include "platform/types.h"

// True when every byte went out. `sent` receives the bytes that did, so a
// failure can tell which piece it happened in; the socket error is kept
// (WSAETIMEDOUT when no room came in time).
bool SendPieces(platform::SOCKET socket, std::span<const platform::SendSlice> pieces,
                platform::DWORD waitMilliseconds, std::size_t& sent);
