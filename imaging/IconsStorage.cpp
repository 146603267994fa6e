#include "imaging/IconsStorage.h"

#include <system_error>

namespace vantrel {

namespace {

// The folder with a trailing separator, as the program's folder strings are kept.
std::filesystem::path WithTrailingSeparator(const std::filesystem::path& folder) {
    if (folder.empty() || folder.has_filename()) return folder / "";
    return folder;
}

}  // namespace

void TIconsStorage::SetProgramIconFolder(const std::filesystem::path& folder) {
    programIconFolder_ = WithTrailingSeparator(folder);
}

void TIconsStorage::SetUserIconFolder(const std::filesystem::path& folder) { userIconFolder_ = WithTrailingSeparator(folder); }

void TIconsStorage::Refresh() {
    paths_.clear();
    titles_.clear();
    AddLibrary("Main.icl");
}

void TIconsStorage::AddLibrary(const std::string& name) {
    const std::filesystem::path path = programIconFolder_ / std::filesystem::u8path(name);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return;
    paths_.push_back(path);
    titles_.push_back(TitleOf(name));
}

std::string TIconsStorage::TitleOf(const std::string& name) {
    std::string title = name;
    if (!title.empty() && title.front() == 'f') title.erase(0, 1);
    const std::size_t dot = title.rfind('.');
    if (dot != std::string::npos) title.erase(dot);
    return title;
}

}  // namespace vantrel
