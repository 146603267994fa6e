#include "app/engine/MarkedFileList.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

#include "app/common/FileHelpers.h"
#include "app/common/IniFile.h"
#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/StreamLibraries.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

std::wstring Folded(const std::wstring& path) {
    if (path.empty()) return path;
    std::wstring folded(path.size(), L'\0');
    const int n = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.data(), int(path.size()), folded.data(),
                               int(folded.size()));
    return n == int(path.size()) ? folded : path;
}

}  // namespace

const wchar_t* MarkStateName(TMarkState state) {
    switch (state) {
        case TMarkState::Marked: return L"marked";
        case TMarkState::Lost: return L"marking lost";
        case TMarkState::Missing: return L"file missing";
        default: return L"";
    }
}

TFileLook LookAtFile(const std::wstring& path, bool readInfo) {
    TFileLook look;
    if (!FileExists(path)) {
        look.State = TMarkState::Missing;
        return look;
    }
    look.State = HasIconStream(path) ? TMarkState::Marked : TMarkState::Lost;
    if (readInfo) {
        TInfoMarking marking;
        try {
            marking = ReadInfoMarking(OpenInfoStream(path).ReadText());
        } catch (const EFileTooLarge& e) {
            look.Damage = Utf8ToWide(e.what());
        }
        look.MarkerFile = marking.MarkerFile;
        look.MarkerIndex = marking.MarkerIndex;
        look.Color = marking.Color;
        look.Known = marking.HasMarker() || marking.Color != kNoColor;
    }
    return look;
}

TMarkedFileList LoadMarkedFiles() {
    TMarkedFileList list;
    list.RecordsFile = MarkingRecordsFileName();
    TRecordContents contents;
    try {
        contents = ReadMarkingRecords();
    } catch (const std::exception& e) {
        list.RecordsFailure = Utf8ToWide(e.what());
    }
    list.NewUnreadable = TakeUnreportedLines(list.RecordsFile, contents);

    std::unordered_map<std::wstring, std::size_t> byPath;
    byPath.reserve(contents.Records.size());
    for (std::size_t i = 0; i < contents.Records.size(); ++i) byPath[Folded(contents.Records[i].Path)] = i;

    const std::vector<std::wstring> entries = TChangeJournal(JournalFileName()).Entries();
    list.Files.reserve(entries.size());
    for (const std::wstring& path : entries) {
        TMarkedFile file;
        file.Path = path;
        auto it = byPath.find(Folded(path));
        if (it != byPath.end()) {
            file.Recorded = true;
            file.Record = contents.Records[it->second];
        }
        list.Files.push_back(std::move(file));
    }
    return list;
}

std::wstring UnreadableLinesMessage(const std::wstring& recordsFile, const std::vector<TUnreadableLine>& lines) {
    std::wstring text = L"Some lines of the marking records \"" + recordsFile +
                        L"\" cannot be read. They are kept in the file as they are, and the files they "
                        L"describe are shown with what their own streams say.\r\n";
    const std::size_t shown = std::min<std::size_t>(lines.size(), 10);
    for (std::size_t i = 0; i < shown; ++i)
        text += L"\r\nLine " + std::to_wstring(lines[i].Number) + L": " + lines[i].Reason + L".";
    if (lines.size() > shown) text += L"\r\n... and " + std::to_wstring(lines.size() - shown) + L" more lines.";
    return text;
}

void ReapplyMarkings(TVantrel& engine, const std::vector<TReapplyItem>& items) {
    using TSource = TVantrel::TLibrarySource;
    std::map<int, std::vector<std::wstring>> byColor;
    std::map<std::tuple<std::wstring, int, TSource>, std::vector<std::wstring>> byMarker;
    for (const TReapplyItem& item : items) {
        if (!FileExists(item.Path) || HasIconStream(item.Path)) continue;
        if (item.MarkerFile.empty() && item.Color == kNoColor) continue;
        const TSource source = item.FromFileData ? TSource::FileData : TSource::User;
        if (item.FromFileData && !item.MarkerFile.empty() &&
            FindStreamLibrary(item.MarkerFile, TLibraryLookup::OnPath).Refused) {
            // Left as it is; ApplyOverlay refuses it again and reports it, changing nothing.
            byMarker[{item.MarkerFile, item.MarkerIndex, source}].push_back(item.Path);
            continue;
        }
        // What is left of the lost marking would otherwise be read back as current.
        DeleteFileW(InfoStreamPath(item.Path).c_str());
        if (item.Color != kNoColor) byColor[item.Color].push_back(item.Path);
        if (!item.MarkerFile.empty()) byMarker[{item.MarkerFile, item.MarkerIndex, source}].push_back(item.Path);
    }
    for (auto& [color, files] : byColor) {
        engine.FileList = files;
        engine.ApplyColor(color);
    }
    for (auto& [marker, files] : byMarker) {
        engine.FileList = files;
        engine.ApplyOverlay(std::get<0>(marker), std::get<1>(marker), std::get<2>(marker));
    }
}

void ForgetMarkedFiles(const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) JournalRemove(path);
    std::wstring failure;
    if (!FlushMarkingRecords(&failure)) throw Error(WideToUtf8(failure));
}

}  // namespace vantrel
