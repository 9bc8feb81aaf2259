#pragma once

#include <string>

// Sends one state message ("READY=1", "STOPPING=1", ...) to the service
// manager over the datagram socket named by socket_path (the value of
// NOTIFY_SOCKET; a leading "@" names an abstract socket). Returns false
// when the path is empty or unusable or the send failed; nothing else
// happens then.
bool SendServiceManagerState(const std::string& socket_path,
                             const std::string& state);

// SendServiceManagerState with the path from the NOTIFY_SOCKET environment
// variable; false when it is not set.
bool NotifyServiceManager(const std::string& state);
