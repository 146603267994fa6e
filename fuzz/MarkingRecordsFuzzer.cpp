// Fuzzing of the marking records "MarkingRecords.dat": any bytes read as the file. Checks
// what the store relies on: the compacted file reads as the same records and keeps every
// line it cannot read, byte for byte, and every record line the reader accepts comes back
// unchanged from what the writer makes of it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/engine/MarkingRecordsText.h"

using namespace vantrel;

namespace {

std::wstring Fold(const std::wstring& path) {
    std::wstring folded = path;
    for (wchar_t& c : folded)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return folded;
}

bool Same(const TMarkingRecord& a, const TMarkingRecord& b) {
    return a.Path == b.Path && a.MarkerFile == b.MarkerFile && a.MarkerIndex == b.MarkerIndex && a.Color == b.Color &&
           a.Time == b.Time;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TParsedRecords parsed = ParseRecordsText(bytes);
    const TRecordContents contents = RecordContents(parsed, Fold);
    for (const TParsedRecordLine& line : parsed.Lines) {
        if (!line.Readable || line.Text.empty()) continue;
        TRecordChange again;
        std::wstring reason;
        if (!ParseRecordLine(FormatRecordLine(line.Change), again, reason)) std::abort();
        if (again.Drop != line.Change.Drop || !Same(again.Record, line.Change.Record)) std::abort();
    }
    if (parsed.ForeignVersion) return 0;  // such a file is never written

    const TParsedRecords compacted = ParseRecordsText(CompactedRecordsText(parsed, Fold));
    const TRecordContents after = RecordContents(compacted, Fold);
    if (after.Records.size() != contents.Records.size() || after.Unreadable.size() != contents.Unreadable.size())
        std::abort();
    for (std::size_t i = 0; i < after.Records.size(); ++i)
        if (!Same(after.Records[i], contents.Records[i])) std::abort();
    for (std::size_t i = 0; i < after.Unreadable.size(); ++i)
        if (after.Unreadable[i].Text != contents.Unreadable[i].Text) std::abort();
    if (LiveRecordLines(compacted, Fold) != LiveRecordLines(parsed, Fold)) std::abort();
    return 0;
}
