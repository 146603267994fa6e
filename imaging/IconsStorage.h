// The icon libraries that the main window offers as marker tabs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vantrel {

// The icon libraries offered as marker tabs.
class TIconsStorage {
public:
    const std::vector<std::filesystem::path>& Paths() const { return paths_; }
    const std::vector<std::string>& Titles() const { return titles_; }
    // The folders, kept with a trailing separator.
    const std::filesystem::path& ProgramIconFolder() const { return programIconFolder_; }
    const std::filesystem::path& UserIconFolder() const { return userIconFolder_; }
    void SetProgramIconFolder(const std::filesystem::path& folder);
    void SetUserIconFolder(const std::filesystem::path& folder);

    // Lists the libraries again: "Main.icl" when the program's folder has it.
    void Refresh();
    // Adds ProgramIconFolder + name when that file exists.
    void AddLibrary(const std::string& name);
    // The tab title of a library file name: a leading lower-case "f" and the extension
    // removed ("fMarkers.icl" gives "Markers").
    static std::string TitleOf(const std::string& name);

private:
    std::vector<std::filesystem::path> paths_;
    std::vector<std::string> titles_;
    std::filesystem::path programIconFolder_;
    std::filesystem::path userIconFolder_;
};

}  // namespace vantrel
