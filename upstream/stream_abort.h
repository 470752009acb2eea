// The process-wide end of upstream work. Every stream's waits include one
// shared cancellation object, and every open stream socket is known here, so
// that AbortAllStreams ends every pending connect, read and write at once:
// the cancellation ends the waits that include it, and shutting the sockets
// down ends the waits that cannot include it (a connect in progress, the
// writer's and header reader's own waits).
#pragma once

#include "platform/socket.h"

namespace upstream {

// The cancellation object every stream wait includes.
const platform::SocketCancel& StreamCancel();

// Ends every pending wait of every stream; later waits fail at once.
void AbortAllStreams();
bool StreamsAborted();
// Lets streams work again after AbortAllStreams (a server started again in
// the same process).
void ResumeStreams();

// A stream's socket while it is open. Registering fails (false) once the
// streams have been aborted: the socket must then not be used.
bool RegisterStreamSocket(platform::SOCKET socket);
void UnregisterStreamSocket(platform::SOCKET socket);

}  // namespace upstream
