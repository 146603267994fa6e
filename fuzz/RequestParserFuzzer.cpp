// Fuzzing of the registrator service's request parser: any bytes, judged whole and byte by
// byte as they would arrive on a connection. Checks what the service relies on: a request
// that gets through carries only valid names, incomplete input never outgrows the limit,
// and the verdict on a complete head does not depend on how the bytes were split.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "registrator/RequestParser.h"

namespace reg = vantrel::registrator;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const int port = 8080;
    reg::RequestLimits limits;
    limits.MaxHeadBytes = 512;
    limits.MaxHeaderFields = 8;

    const reg::ParsedRequest whole = reg::ParseRequest(bytes, port, limits);
    if (whole.State == reg::ParseState::NeedMore && size >= limits.MaxHeadBytes) std::abort();
    if (whole.State == reg::ParseState::Done) {
        if (whole.Kind == reg::RequestKind::Register &&
            (!reg::IsValidExtension(whole.Extension) || !reg::IsValidTypeName(whole.Type)))
            std::abort();
        if (whole.Kind == reg::RequestKind::Refused && (whole.Status < 200 || whole.Status > 599 || whole.Reason.empty()))
            std::abort();
        for (char c : whole.Type)
            if (c == '\\' || c == '/' || c == '%') std::abort();
    }

    // Arriving byte by byte: the first Done verdict is the service's answer; it must agree
    // with the whole input's when that verdict came from the complete head.
    for (std::size_t n = 0; n <= size; ++n) {
        const reg::ParsedRequest part = reg::ParseRequest(bytes.substr(0, n), port, limits);
        if (part.State == reg::ParseState::Done) {
            if (part.Kind != reg::RequestKind::Refused && (whole.Kind != part.Kind || whole.Type != part.Type ||
                                                           whole.Extension != part.Extension))
                std::abort();
            break;
        }
    }
    (void)reg::BuildResponse(whole.Status, whole.Reason);
    return 0;
}
