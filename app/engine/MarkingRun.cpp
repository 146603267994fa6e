#include "imaging/Colorize.h"  // the imaging headers come before windows.h and its RGB macros
#include "imaging/OverlayCompose.h"

#include "app/engine/MarkingRun.h"

#include <windows.h>
#include <objbase.h>

#include <span>

#include "app/common/FileHelpers.h"
#include "app/engine/IconExtractCache.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/MarkingRecords.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

// Keys compare as the system compares extensions and drive names: letter case ignored.
std::wstring Upper(const std::wstring& text) {
    std::wstring upper = text;
    if (!upper.empty()) CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
    return upper;
}

void Load(const TMarkingRun::Icon& bytes, TAdvancedIcon& icon) {
    icon.LoadFromBytes(std::span<const std::uint8_t>(bytes.data(), bytes.size()));
}

// The bytes an icon is saved as, refused as saving it to a file refuses it.
TMarkingRun::Icon FileImage(const TAdvancedIcon& icon) {
    if (icon.Images().Count() == 0) throw Error("No images in icon");
    return icon.SaveToBytes();
}

// The icons kept in memory at most; a run over files that each have an icon of their own
// (icon files showing themselves) would otherwise keep every one of them.
constexpr std::size_t kMaxKeptBytes = 64u << 20;

}  // namespace

TMarkingRun::TMarkingRun() = default;

bool TMarkingRun::RecordVouches(const std::wstring& file, const std::wstring& library) {
    if (!recordedMarkers_) {
        recordedMarkers_.emplace();
        try {
            for (const TMarkingRecord& record : ReadMarkingRecords(false).Records)
                (*recordedMarkers_)[Upper(record.Path)] = record.MarkerFile;
        } catch (const std::exception&) {
            // Records that cannot be read vouch for nothing.
        }
    }
    auto it = recordedMarkers_->find(Upper(file));
    return it != recordedMarkers_->end() && !it->second.empty() && SameFileName(it->second, library);
}

TMarkingRun::~TMarkingRun() {
    if (!workFolder_.empty()) DeleteFolderTree(workFolder_);
}

const TMarkingRun::TypeFacts& TMarkingRun::Type(const std::wstring& extension) {
    const std::wstring key = Upper(extension);
    auto it = types_.find(key);
    if (it != types_.end()) return it->second;
    TypeFacts facts;
    facts.Registered = TVantrel::Core().IsRegisteredType(extension);
    facts.Type = GetFileType(extension);
    facts.Handler = GetIconHandler(facts.Type);
    facts.DefaultIcon = GetDefaultIconValue(facts.Type);
    return types_.emplace(key, std::move(facts)).first->second;
}

void TMarkingRun::Forget(const std::wstring& extension) { types_.erase(Upper(extension)); }

const std::wstring& TMarkingRun::FileSystemOf(const std::wstring& path) {
    const std::wstring drive = ExtractFileDrive(path);
    const std::wstring key = Upper(drive.substr(0, 2));
    auto it = fileSystems_.find(key);
    if (it == fileSystems_.end()) it = fileSystems_.emplace(key, GetFileSystemName(drive)).first;
    return it->second;
}

TIconPathRec TMarkingRun::TypeIconLocation(const std::wstring& file) {
    return ResolveIconLocation(Type(ExtractFileExt(file)).DefaultIcon, file);
}

void TMarkingRun::TrimIfLarge() {
    if (keptBytes_ <= kMaxKeptBytes) return;
    extracted_.clear();
    tinted_.clear();
    composed_.clear();
    keptBytes_ = 0;
}

const TMarkingRun::Icon* TMarkingRun::Extracted(const std::wstring& iconFile, int index) {
    const std::wstring key = iconFile + L"," + std::to_wstring(index);
    auto it = extracted_.find(key);
    if (it != extracted_.end()) return it->second ? &*it->second : nullptr;

    if (workFolder_.empty()) {
        GUID guid;
        if (FAILED(CoCreateGuid(&guid))) throw Error("Cannot create a GUID for a temporary folder");
        wchar_t text[40] = L"";
        StringFromGUID2(guid, text, 40);
        const std::wstring folder = IncludeTrailingBackslash(GetEnvVar(L"TEMP")) + text + L"\\";
        ForceFolder(folder);
        workFolder_ = folder;
    }
    const std::wstring destination = workFolder_ + std::to_wstring(extracted_.size()) + L".ico";
    ExtractIconToFile(iconFile, index, destination);
    if (!FileExists(destination)) {
        extracted_.emplace(key, std::nullopt);
        return nullptr;
    }
    std::vector<unsigned char> bytes = ReadFileBytes(destination);
    DeleteFileW(destination.c_str());
    return &Keep(extracted_, key, Icon(bytes.begin(), bytes.end()));
}

const TMarkingRun::Icon& TMarkingRun::Tinted(const std::wstring& key, const Icon& icon, int color) {
    const std::wstring full = key + L"|" + std::to_wstring(color);
    auto it = tinted_.find(full);
    if (it != tinted_.end()) return *it->second;
    TAdvancedIcon source, result;
    Load(icon, source);
    ColorizeIcon(source, result, color);
    return Keep(tinted_, full, FileImage(result));
}

const TMarkingRun::Icon& TMarkingRun::Composed(const std::wstring& key, const Icon& base, const Icon& marker) {
    auto it = composed_.find(key);
    if (it != composed_.end()) return *it->second;
    TAdvancedIcon baseIcon, markerIcon, result;
    Load(base, baseIcon);
    Load(marker, markerIcon);
    ComposeOverlay(baseIcon, markerIcon, result);
    return Keep(composed_, key, FileImage(result));
}

const TMarkingRun::Icon& TMarkingRun::Keep(std::map<std::wstring, std::optional<Icon>>& cache, const std::wstring& key,
                                           Icon icon) {
    keptBytes_ += icon.size();
    return *cache.insert_or_assign(key, std::move(icon)).first->second;
}

}  // namespace vantrel
