// Parsing and validation of the registrator service's requests. Every request is treated
// as hostile: nothing is decoded, nothing is echoed back, and anything that is not exactly
// one of the two known requests from a loopback page of this very service is refused.
#include "registrator/RequestParser.h"

#include <array>
#include <vector>

namespace vantrel::registrator {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool IsAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Header field names: RFC 9110 token characters.
bool IsTokenChar(char c) {
    if (IsAlnum(c)) return true;
    switch (c) {
        case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
        case '-': case '.': case '^': case '_': case '`': case '|': case '~':
            return true;
        default:
            return false;
    }
}

ParsedRequest Refuse(int status, std::string reason) {
    ParsedRequest r;
    r.State = ParseState::Done;
    r.Kind = RequestKind::Refused;
    r.Status = status;
    r.Reason = std::move(reason);
    return r;
}

std::string_view TrimOws(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool IsDecimal(std::string_view s) {
    if (s.empty() || s.size() > 5) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Host must name this service on the loopback interface: "127.0.0.1:<port>" or
// "localhost:<port>"; without a port only when the port is 80. Any other name (a web
// page's own host resolved to 127.0.0.1) is refused.
bool IsOwnHost(std::string_view host, int port) {
    std::string_view name = host;
    std::string_view portText;
    std::size_t colon = host.rfind(':');
    if (colon != std::string_view::npos) {
        name = host.substr(0, colon);
        portText = host.substr(colon + 1);
        if (!IsDecimal(portText)) return false;
        int value = 0;
        for (char c : portText) value = value * 10 + (c - '0');
        if (value != port || portText.front() == '0') return false;
    } else if (port != 80) {
        return false;
    }
    return name == "127.0.0.1" || EqualsNoCase(name, "localhost");
}

// The first bytes must be able to become "GET ", or the connection is refused at once.
bool CanStartRequest(std::string_view received) {
    static constexpr std::string_view kPrefix = "GET ";
    std::size_t n = received.size() < kPrefix.size() ? received.size() : kPrefix.size();
    if (received.substr(0, n) == kPrefix.substr(0, n)) return true;
    // Other methods are answered properly once their line is complete.
    for (std::size_t i = 0; i < received.size() && i < 16; ++i) {
        char c = received[i];
        if (c == ' ') return i > 0;
        if (!(c >= 'A' && c <= 'Z')) return false;
    }
    return true;
}

// Scans for bytes no request head may hold: control characters other than CR LF, a CR
// that is not followed by LF, a bare LF, and bytes outside ASCII. Returns the reason, or
// empty when the bytes are clean so far.
const char* ForbiddenByte(std::string_view head, bool complete) {
    for (std::size_t i = 0; i < head.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(head[i]);
        if (c == '\r') {
            if (i + 1 < head.size()) {
                if (head[i + 1] != '\n') return "CR without LF";
            } else if (complete) {
                return "CR without LF";
            }
        } else if (c == '\n') {
            if (i == 0 || head[i - 1] != '\r') return "LF without CR";
        } else if (c == '\t') {
            continue;
        } else if (c < 0x20 || c >= 0x7F) {
            return "control or non-ASCII byte";
        }
    }
    return nullptr;
}

std::vector<std::string_view> SplitLines(std::string_view head) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= head.size()) {
        std::size_t end = head.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(head.substr(start));
            break;
        }
        lines.push_back(head.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

constexpr std::array<std::string_view, 14> kReservedKeys = {
    "CLSID", "Interface", "TypeLib", "AppID", "Directory", "Folder", "Drive", "AllFilesystemObjects",
    "Unknown", "SystemFileAssociations", "MIME", "Installer", "DirectShow", "Wow6432Node"};

ParsedRequest JudgeQuery(std::string_view query) {
    if (query.find('%') != std::string_view::npos)
        return Refuse(kStatusNotAcceptable, "Percent-escapes are not accepted.");
    std::string_view ext, type;
    bool haveExt = false, haveType = false;
    std::size_t start = 0;
    for (;;) {
        std::size_t amp = query.find('&', start);
        std::string_view part = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
        std::size_t eq = part.find('=');
        if (eq == std::string_view::npos) return Refuse(kStatusNotAcceptable, "A parameter has no value.");
        std::string_view name = part.substr(0, eq), value = part.substr(eq + 1);
        if (name == "ext") {
            if (haveExt) return Refuse(kStatusNotAcceptable, "The parameter ext is given twice.");
            haveExt = true;
            ext = value;
        } else if (name == "filetype") {
            if (haveType) return Refuse(kStatusNotAcceptable, "The parameter filetype is given twice.");
            haveType = true;
            type = value;
        } else {
            return Refuse(kStatusNotAcceptable, "Only the parameters ext and filetype are accepted.");
        }
        if (amp == std::string_view::npos) break;
        start = amp + 1;
    }
    if (!haveExt || !haveType) return Refuse(kStatusNotAcceptable, "Both ext and filetype are required.");
    if (!IsValidExtension(ext))
        return Refuse(kStatusNotAcceptable,
                      "The extension must be a dot and 1 to 16 letters, digits, '_', '-' or '+'.");
    if (!IsValidTypeName(type))
        return Refuse(kStatusNotAcceptable,
                      "The file type must be one key name of 1 to 64 letters, digits, '.', '_', '-' or '+'.");
    ParsedRequest r;
    r.State = ParseState::Done;
    r.Kind = RequestKind::Register;
    r.Status = kStatusOk;
    r.Extension = std::string(ext);
    r.Type = std::string(type);
    return r;
}

}  // namespace

bool IsValidExtension(std::string_view extension) {
    if (extension.size() < 2 || extension.size() > 17 || extension.front() != '.') return false;
    for (char c : extension.substr(1))
        if (!(IsAlnum(c) || c == '_' || c == '-' || c == '+')) return false;
    return true;
}

bool IsValidTypeName(std::string_view type) {
    if (type.empty() || type.size() > 64 || !IsAlnum(type.front())) return false;
    for (char c : type)
        if (!(IsAlnum(c) || c == '.' || c == '_' || c == '-' || c == '+')) return false;
    if (type.find("..") != std::string_view::npos) return false;
    for (std::string_view reserved : kReservedKeys)
        if (EqualsNoCase(type, reserved)) return false;
    return true;
}

ParsedRequest ParseRequest(std::string_view received, int servicePort, const RequestLimits& limits) {
    if (!CanStartRequest(received)) return Refuse(kStatusBadRequest, "Not an HTTP request.");

    std::size_t end = received.find("\r\n\r\n");
    bool complete = end != std::string_view::npos && end + 4 <= limits.MaxHeadBytes;
    std::string_view head = complete ? received.substr(0, end)
                                     : received.substr(0, received.size() < limits.MaxHeadBytes
                                                              ? received.size()
                                                              : limits.MaxHeadBytes);
    if (const char* why = ForbiddenByte(head, complete))
        return Refuse(kStatusBadRequest, std::string("Malformed request: ") + why + ".");
    if (!complete) {
        if (received.size() >= limits.MaxHeadBytes) return Refuse(kStatusHeadTooLarge, "The request is too large.");
        // Count the header lines seen so far, so an endless stream of short fields ends early.
        std::size_t lines = 0;
        for (std::size_t p = head.find("\r\n"); p != std::string_view::npos; p = head.find("\r\n", p + 2)) ++lines;
        if (lines > limits.MaxHeaderFields + 1) return Refuse(kStatusHeadTooLarge, "Too many header fields.");
        ParsedRequest more;
        more.State = ParseState::NeedMore;
        return more;
    }

    std::vector<std::string_view> lines = SplitLines(head);
    if (lines.size() - 1 > limits.MaxHeaderFields) return Refuse(kStatusHeadTooLarge, "Too many header fields.");

    // Request line: exactly "METHOD SP target SP HTTP/1.x".
    std::string_view line = lines[0];
    std::size_t sp1 = line.find(' ');
    std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp1 == std::string_view::npos || sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
        return Refuse(kStatusBadRequest, "Malformed request line.");
    std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string_view version = line.substr(sp2 + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return Refuse(kStatusBadRequest, "Unsupported HTTP version.");
    if (target.empty() || target.front() != '/') return Refuse(kStatusBadRequest, "Malformed request target.");
    for (char c : target)
        if (c == '\t' || c == '\\' || c == '#') return Refuse(kStatusBadRequest, "Malformed request target.");

    // Header fields: at most one Host, which must name this service; no body.
    std::string_view host;
    int hostCount = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view field = lines[i];
        if (field.empty() || field.front() == ' ' || field.front() == '\t')
            return Refuse(kStatusBadRequest, "Malformed header field.");
        std::size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0) return Refuse(kStatusBadRequest, "Malformed header field.");
        std::string_view name = field.substr(0, colon);
        for (char c : name)
            if (!IsTokenChar(c)) return Refuse(kStatusBadRequest, "Malformed header field.");
        std::string_view value = TrimOws(field.substr(colon + 1));
        if (EqualsNoCase(name, "Host")) {
            ++hostCount;
            host = value;
        } else if (EqualsNoCase(name, "Transfer-Encoding")) {
            return Refuse(kStatusBadRequest, "A request body is not accepted.");
        } else if (EqualsNoCase(name, "Content-Length")) {
            if (value != "0") return Refuse(kStatusBadRequest, "A request body is not accepted.");
        }
    }
    if (hostCount != 1) return Refuse(kStatusBadRequest, "Exactly one Host header field is required.");
    if (!IsOwnHost(host, servicePort)) return Refuse(kStatusForbidden, "Requests must be addressed to 127.0.0.1 or localhost.");

    if (method != "GET") return Refuse(kStatusMethodNotAllowed, "Only GET is accepted.");

    std::size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    if (path == "/unregall" && question == std::string_view::npos) {
        ParsedRequest r;
        r.State = ParseState::Done;
        r.Kind = RequestKind::UnregisterAll;
        r.Status = kStatusOk;
        return r;
    }
    if (path == "/" && question != std::string_view::npos) return JudgeQuery(target.substr(question + 1));
    return Refuse(kStatusNotFound, "Not found.");
}

std::string BuildResponse(int status, std::string_view body) {
    const char* reason = "Error";
    switch (status) {
        case kStatusOk: reason = "OK"; break;
        case kStatusForeignHandler: reason = "Created"; break;
        case kStatusNotAcceptable: reason = "Non-Authoritative Information"; break;
        case kStatusBadRequest: reason = "Bad Request"; break;
        case kStatusForbidden: reason = "Forbidden"; break;
        case kStatusNotFound: reason = "Not Found"; break;
        case kStatusMethodNotAllowed: reason = "Method Not Allowed"; break;
        case kStatusTimeout: reason = "Request Timeout"; break;
        case kStatusHeadTooLarge: reason = "Request Header Fields Too Large"; break;
        case kStatusServerError: reason = "Internal Server Error"; break;
        case kStatusBusy: reason = "Service Unavailable"; break;
        default: break;
    }
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    out += "Content-Type: text/plain; charset=us-ascii\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    out += body;
    return out;
}

}  // namespace vantrel::registrator
