// An INI file read and written as the platform's private-profile functions do, on
// any path, alternate data streams included ("file.txt:vantreliconinfo").
//
// Every call reads the file afresh and a change writes it back whole, so two objects
// on one file never see stale text. The text is ANSI with CR LF line ends; a value
// the ANSI code page cannot hold makes the file UTF-8 behind a byte-order mark (see
// TextFileCoding.h), and such a file is read back as UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/common/IniText.h"

namespace vantrel {

// Far more than any INI text the program writes (its window settings); a larger file is
// not INI text of ours.
inline constexpr std::size_t kMaxIniBytes = 1u << 20;

class TIniFile {
public:
    // A file larger than maxBytes is taken as damaged: reads give the defaults, ReadText,
    // changes and Edit fail with EFileTooLarge (FileHelpers.h) and leave it as it is.
    explicit TIniFile(std::wstring fileName, std::size_t maxBytes = kMaxIniBytes)
        : fileName_(std::move(fileName)), maxBytes_(maxBytes) {}

    const std::wstring& FileName() const { return fileName_; }

    // A missing or unreadable file, section or key gives the default.
    std::wstring ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& def) const;
    // Decimal, or hexadecimal after "0x" or "$"; text that is no integer gives the default.
    int ReadInteger(const std::wstring& section, const std::wstring& key, int def) const;
    bool ValueExists(const std::wstring& section, const std::wstring& key) const;
    // The whole text in one read, as the reads above see it (empty for a missing or
    // unreadable file), except that a file over the limit throws EFileTooLarge.
    IniText ReadText() const;

    // Throw vantrel::Error when the file cannot be read (other than missing) or written,
    // so a failed change is never taken for a stored one.
    void WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    void WriteInteger(const std::wstring& section, const std::wstring& key, int value);
    // Removes the key's line; the section line stays. Nothing is written when the
    // key is not there.
    void DeleteKey(const std::wstring& section, const std::wstring& key);

    // Several reads and changes in one pass: the file is read once (as for a change),
    // edit reads and changes its text and returns whether it changed anything, and the
    // text is then written back once. The result is what the same calls one by one give.
    // A file that cannot be read throws, unless readsFirst: then edit sees empty text,
    // as reads before any change would, and nothing is written. A file over the limit
    // throws EFileTooLarge in either case: it is not taken for an empty one.
    void Edit(const std::function<bool(IniText& text)>& edit, bool readsFirst = false);
    // Integer reading as ReadInteger does it, on text already read.
    static int IntegerValue(const IniText& text, const std::wstring& section, const std::wstring& key, int def);

private:
    // How a failure to read is taken: reads fall back to the defaults, a change stops,
    // ReadText stops only for a file over the limit.
    enum class LoadFor { Read, Change, Text };
    IniText Load(LoadFor purpose) const;
    void Save(const IniText& text);

    std::wstring fileName_;
    std::size_t maxBytes_;
};

}  // namespace vantrel
