#include "imaging/ImagingLog.h"

namespace vantrel {

namespace {
ImagingLogSink g_sink = nullptr;
}

void SetImagingLogSink(ImagingLogSink sink) { g_sink = sink; }

void ImagingLog(const std::wstring& text, const std::wstring& category, int level, bool formatted) {
    if (!g_sink) return;
    try {
        g_sink(text, category, level, formatted);
    } catch (...) {
        // The log never disturbs the work it reports on.
    }
}

}  // namespace vantrel
