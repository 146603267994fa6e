// The client of the registrator service: the local service that writes machine-wide
// icon-handler registrations on the program's behalf, reached over HTTP on the loopback
// address at the port named by "ServicePort".
#pragma once

#include <string>

#include "app/registration/RegistryException.h"

namespace vantrel {

// A failed request to the registrator service. ErrorCode:
//   3  the service answered with status 203 (message: the body)
//   4  the service answered with status 201 (message: the body)
//   5  any other answer than status 200 with the body "OK"
//   6  a socket-level failure: nothing listens, the connection was lost, or the service
//      did not answer in time
//   7  any other failure of the HTTP client (an error status such as 404, a malformed
//      answer, an unusable "ServicePort" value)
class IconRegisterException : public Error {
public:
    IconRegisterException(const std::string& messageUtf8, int errorCode)
        : Error(messageUtf8), ErrorCode(errorCode) {}
    IconRegisterException(const std::wstring& message, int errorCode);

    int ErrorCode;
};

// The service's TCP port: the integer value "ServicePort" of
// HKEY_LOCAL_MACHINE\Software\Kestrane\Vantrel (32-bit registry view), 8080 when absent.
// Throws ERegistryException when the value is not a port number.
int GetServicePort();

// Asks the service to make the shell extension the icon handler of a machine-wide type:
// GET http://127.0.0.1:<port>/?ext=<extension>&filetype=<type>.
void RegisterFileType(const std::wstring& extension, const std::wstring& type);

// Asks the service to remove every registration it made: GET http://127.0.0.1:<port>/unregall.
void UnregisterAll();

// How long a request may wait for the connection and for the complete answer. A service
// that accepts the connection and never answers fails the request with code 6 once the
// answer time has passed, instead of blocking the program.
struct RegistratorTimeouts {
    unsigned ConnectMs = 5000;
    unsigned AnswerMs = 30000;
};
RegistratorTimeouts GetRegistratorTimeouts();
void SetRegistratorTimeouts(const RegistratorTimeouts& timeouts);

}  // namespace vantrel
