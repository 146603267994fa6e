// The registrator service's request parser and validator. Portable (no windows.h), so it
// is tested and fuzzed natively as well.
//
// The service answers exactly two requests:
//   GET /?ext=<extension>&filetype=<type>   make the shell extension the type's icon handler
//   GET /unregall                           remove every registration the service made
// Everything else is refused. The parser works on the bytes received so far and tells the
// caller to read more, or gives the final verdict; it never reads past what it is given.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel::registrator {

// Status codes of refusals. 201 and 203 are what the program's client knows how to show.
inline constexpr int kStatusOk = 200;
inline constexpr int kStatusForeignHandler = 201;  // body: the type's current icon handler
inline constexpr int kStatusNotAcceptable = 203;   // body: why the request was refused
inline constexpr int kStatusBadRequest = 400;
inline constexpr int kStatusForbidden = 403;
inline constexpr int kStatusNotFound = 404;
inline constexpr int kStatusMethodNotAllowed = 405;
inline constexpr int kStatusTimeout = 408;
inline constexpr int kStatusHeadTooLarge = 431;
inline constexpr int kStatusServerError = 500;
inline constexpr int kStatusBusy = 503;

struct RequestLimits {
    std::size_t MaxHeadBytes = 4096;  // request line, header fields and the empty line
    std::size_t MaxHeaderFields = 24;
};

enum class ParseState { NeedMore, Done };
enum class RequestKind { Register, UnregisterAll, Refused };

struct ParsedRequest {
    ParseState State = ParseState::NeedMore;
    RequestKind Kind = RequestKind::Refused;
    int Status = 0;         // Refused: the status to answer with
    std::string Reason;     // Refused: the body to answer with
    std::string Extension;  // Register: ".txt"
    std::string Type;       // Register: "txtfile"
};

// Judges the bytes received so far on a connection to the service at servicePort.
// State NeedMore: the request head is not complete yet and nothing is wrong so far.
ParsedRequest ParseRequest(std::string_view received, int servicePort, const RequestLimits& limits = {});

// A dot followed by 1 to 16 letters, digits, '_', '-' or '+'.
bool IsValidExtension(std::string_view extension);
// A single registry key name of 1 to 64 letters, digits, '.', '_', '-' or '+', starting
// with a letter or digit, without "..", and none of the class-root keys that are not
// file types (CLSID, Interface, Directory, ...).
bool IsValidTypeName(std::string_view type);

// A complete answer: status line, plain-text headers, Connection: close and the body.
std::string BuildResponse(int status, std::string_view body);

}  // namespace vantrel::registrator
