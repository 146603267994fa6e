// What one engine operation learns once and reuses for every file of its list:
//
//  - facts of a file type (whether it is registered, its type name, its icon handler,
//    its DefaultIcon value), asked once per extension;
//  - facts of a volume (its file-system name), asked once per drive;
//  - icons: an extracted icon once per location, a tint once per location and colour, a
//    composition once per (type icon, colour, marker). Files of one type that get the
//    same marker and colour end with the same icon bytes, so only the first one pays
//    for extraction, tint, composition and encoding.
//
// Facts of the file itself (that it exists, its write probe, its info stream) are never
// kept: every file is checked on its own. The icons are kept in memory (bounded); the
// extraction goes through a work folder that is created on first need and deleted with
// the run, also when a failure ends the operation.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct TIconPathRec;

class TMarkingRun {
public:
    TMarkingRun();
    ~TMarkingRun();
    TMarkingRun(const TMarkingRun&) = delete;
    TMarkingRun& operator=(const TMarkingRun&) = delete;

    struct TypeFacts {
        bool Registered = false;
        std::wstring Type;           // the type name behind the extension
        std::wstring Handler;        // its icon handler's CLSID text; empty when none
        std::wstring DefaultIcon;    // its raw DefaultIcon value
    };
    // The facts of a file's extension (letter case ignored).
    const TypeFacts& Type(const std::wstring& extension);
    // Forgets the facts of an extension after the program changed them (its icon
    // handler was registered), so the next file reads them afresh.
    void Forget(const std::wstring& extension);

    // File-system name of the path's drive, as GetFileSystemName gives it.
    const std::wstring& FileSystemOf(const std::wstring& path);

    // The resolved location of the normal icon of the file's type.
    TIconPathRec TypeIconLocation(const std::wstring& file);

    // An icon as stored in a file: the bytes of an .ico file image.
    using Icon = std::vector<std::uint8_t>;
    // Drops the icons kept when they have grown large. Called between files only: the
    // references handed out for one file stay valid until then.
    void TrimIfLarge();
    // The icon at a location (an .ico file, or an icon group of a library) as the
    // extraction cache gives it; null when nothing could be extracted. A failure inside
    // the extraction is thrown.
    const Icon* Extracted(const std::wstring& iconFile, int index);
    // The icon tinted with colour, remembered under key (the icon's location).
    const Icon& Tinted(const std::wstring& key, const Icon& icon, int color);
    // The marker composed over the icon, remembered under key (both locations, colour).
    // Empty when the composition made no image file.
    const Icon& Composed(const std::wstring& key, const Icon& base, const Icon& marker);

    // Whether the marking records say the file was marked with the library (its text as
    // the info stream holds it). The records are read once per run, on the first question:
    // only a library on a network location is asked about.
    bool RecordVouches(const std::wstring& file, const std::wstring& library);

private:
    const Icon& Keep(std::map<std::wstring, std::optional<Icon>>& cache, const std::wstring& key, Icon icon);

    std::map<std::wstring, TypeFacts> types_;
    std::map<std::wstring, std::wstring> fileSystems_;
    std::map<std::wstring, std::optional<Icon>> extracted_, tinted_, composed_;
    std::size_t keptBytes_ = 0;
    std::wstring workFolder_;  // empty until the first extraction
    std::optional<std::map<std::wstring, std::wstring>> recordedMarkers_;  // file -> library
};

}  // namespace vantrel
