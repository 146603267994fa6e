// The engine's operations against a plain reference that does every step afresh for
// every file, in the order the engine must keep: a mixed list (several types, colours,
// files already marked, files that fail every check in between) goes through the same
// sequence of operations twice, once per implementation, each in its own folder and data
// folder. Streams, info texts, journal, error report and error state must agree byte for
// byte after every operation.
#include "engine/MarkingFixture.h"
#include "imaging/Colorize.h"
#include "imaging/OverlayCompose.h"

#include <filesystem>

#include "app/common/FileHelpers.h"
#include "app/common/TextFormat.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/IconExtractCache.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const int kRed = 3556862, kBlue = 16748891;

// --- the reference: one file at a time, every icon made anew in a work folder ----------

std::filesystem::path P(const std::wstring& s) { return std::filesystem::path(s); }

struct RefWork {
    std::wstring dir;
    explicit RefWork(const std::wstring& root) : dir(root + L"ref-work\\") { ForceFolder(dir); }
    ~RefWork() { DeleteFolderTree(dir); }
    std::wstring operator/(const wchar_t* name) const { return dir + name; }
};

bool RefTypeIcon(TVantrel& core, const std::wstring& file, TIconPathRec& location, bool asFileMissing) {
    location = GetIconLocation(file);
    if (FileExists(location.Path)) return true;
    core.Errors.push_back(file);
    asFileMissing ? core.ReportFileMissing(location.Path) : core.ReportIconFileMissing(location.Path);
    return false;
}

bool RefExtract(TVantrel& core, const std::wstring& file, const std::wstring& iconFile, int index, const std::wstring& to) {
    DeleteFileW(to.c_str());
    ExtractIconToFile(iconFile, index, to);
    if (FileExists(to)) return true;
    core.Errors.push_back(file);
    core.ReportIconResourceMissing(iconFile + L"," + std::to_wstring(index));
    return false;
}

std::wstring RefOverlayPath(const std::wstring& recorded) {
    std::wstring path = recorded;
    if (!FileExists(path)) path = FindOnPath(path);
    return path;
}

void RefApplyOverlay(TVantrel& core, const std::wstring& overlay, int index) {
    core.ClearErrors();
    RefWork work(GetEnvVar(L"TEMP") + L"\\");
    for (const std::wstring& file : core.FileList) {
        if (!core.CheckCanCustomize(file)) continue;
        TIniFile info = OpenInfoStream(file);
        info.WriteString(kInfoSection, kOverlayIconFileKey, overlay);
        info.WriteInteger(kInfoSection, kOverlayIconIndexKey, index);
        const int color = info.ReadInteger(kInfoSection, kColorKey, kNoColor);
        TIconPathRec location;
        if (!RefTypeIcon(core, file, location, false)) continue;
        if (!RefExtract(core, file, location.Path, location.Index, work / L"Default.ico")) continue;
        std::wstring base = work / L"Default.ico";
        if (color != kNoColor) {
            ColorizeIcon(P(base), P(work / L"Colorized.ico"), color);
            base = work / L"Colorized.ico";
        }
        const std::wstring overlayPath = RefOverlayPath(overlay);
        if (!FileExists(overlayPath)) {
            core.Errors.push_back(file);
            core.ReportIconFileMissing(overlay);
            break;
        }
        if (!RefExtract(core, file, overlayPath, index, work / L"Overlay.ico")) continue;
        ComposeOverlay(P(base), P(work / L"Overlay.ico"), P(IconStreamPath(file)));
        JournalAdd(file);
    }
    core.ShowErrorReport();
}

void RefApplyColor(TVantrel& core, int color) {
    core.ClearErrors();
    RefWork work(GetEnvVar(L"TEMP") + L"\\");
    for (const std::wstring& file : core.FileList) {
        if (!core.CheckCanCustomize(file)) continue;
        TIniFile info = OpenInfoStream(file);
        const std::wstring recorded = TrimBlanks(info.ReadString(kInfoSection, kOverlayIconFileKey, L""));
        const int index = info.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0);
        info.WriteInteger(kInfoSection, kColorKey, color);
        TIconPathRec location;
        if (!RefTypeIcon(core, file, location, false)) continue;
        if (!RefExtract(core, file, location.Path, location.Index, work / L"Default.ico")) continue;
        ColorizeIcon(P(work / L"Default.ico"), P(work / L"Colorized.ico"), color);
        if (recorded.empty()) {
            CopyFileToPath(work / L"Colorized.ico", IconStreamPath(file));
        } else {
            const std::wstring overlayPath = RefOverlayPath(ExpandPath(recorded));
            if (!FileExists(overlayPath)) {
                core.Errors.push_back(file);
                core.ReportIconFileMissing(recorded);
                continue;
            }
            if (!RefExtract(core, file, overlayPath, index, work / L"Overlay.ico")) continue;
            ComposeOverlay(P(work / L"Colorized.ico"), P(work / L"Overlay.ico"), P(IconStreamPath(file)));
        }
        JournalAdd(file);
    }
    core.ShowErrorReport();
}

// Removes one kind of marking (the marker when colour is true, else the colour).
void RefRemove(TVantrel& core, bool keepColour) {
    core.ClearErrors();
    RefWork work(GetEnvVar(L"TEMP") + L"\\");
    for (const std::wstring& file : core.FileList) {
        if (core.CheckCanRemove(file) != TVantrel::RemoveCheck::Proceed) continue;
        TIniFile info = OpenInfoStream(file);
        const int color = info.ReadInteger(kInfoSection, kColorKey, kNoColor);
        const std::wstring recorded = TrimBlanks(info.ReadString(kInfoSection, kOverlayIconFileKey, L""));
        const int index = info.ReadInteger(kInfoSection, kOverlayIconIndexKey, 0);
        if (keepColour ? color == kNoColor : recorded.empty()) {
            RemoveMarkerStreams(file);
            continue;
        }
        TIconPathRec location;
        if (keepColour) {
            info.DeleteKey(kInfoSection, kOverlayIconFileKey);
            info.DeleteKey(kInfoSection, kOverlayIconIndexKey);
            if (!RefTypeIcon(core, file, location, false)) continue;
            if (!RefExtract(core, file, location.Path, location.Index, work / L"Default.ico")) continue;
            ColorizeIcon(P(work / L"Default.ico"), P(IconStreamPath(file)), color);
            continue;
        }
        info.DeleteKey(kInfoSection, kColorKey);
        if (!RefTypeIcon(core, file, location, true)) continue;
        const std::wstring overlayPath = RefOverlayPath(recorded);
        if (!FileExists(overlayPath)) {
            core.Errors.push_back(file);
            core.ReportIconFileMissing(recorded);
            continue;
        }
        if (!RefExtract(core, file, location.Path, location.Index, work / L"Default.ico")) continue;
        if (!RefExtract(core, file, overlayPath, index, work / L"Overlay.ico")) continue;
        ComposeOverlay(P(work / L"Default.ico"), P(work / L"Overlay.ico"), P(IconStreamPath(file)));
    }
    core.ShowErrorReport();
}

void RefRestoreDefault(TVantrel& core) {
    core.ClearErrors();
    for (const std::wstring& file : core.FileList) {
        const auto check = core.CheckCanRemove(file);
        if (check == TVantrel::RemoveCheck::Proceed) RemoveMarkerStreams(file);
    }
    core.ShowErrorReport();
}

void RefRollback() {
    for (const std::wstring& entry : TChangeJournal(JournalFileName()).Entries()) RemoveMarkerStreams(entry);
}

// --- the test ---------------------------------------------------------------------------

void SetDefault(const std::wstring& key, const std::wstring& value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
}

void DefineType(const std::wstring& ext, const std::wstring& icon, const std::wstring& handler) {
    SetDefault(L"Software\\Classes\\" + ext, L"vt" + ext.substr(1) + L"file");
    const std::wstring type = L"Software\\Classes\\vt" + ext.substr(1) + L"file";
    SetDefault(type, L"Comparison document");
    SetDefault(type + L"\\DefaultIcon", icon);
    SetDefault(type + L"\\ShellEx\\IconHandler", handler);
}

const wchar_t* const kTypes[] = {L".vtcpe", L".vtcgo", L".vtcfo", L".vtcex"};

std::wstring Replace(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::wstring::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

class MarkingComparison : public MarkingTest {
protected:
    void SetUp() override {
        MarkingTest::SetUp();
        const std::wstring shell32 = GetEnvVar(L"SystemRoot") + L"\\system32\\shell32.dll";
        DefineType(L".vtcpe", shell32 + L",3", ShellExtensionCLSID);                     // an icon group of a DLL
        DefineType(L".vtcgo", L"C:\\no-such-folder\\gone.ico", ShellExtensionCLSID);     // its icon file is gone
        DefineType(L".vtcfo", shell32 + L",3", L"{00000000-1111-2222-3333-444444444444}");  // another handler
        DefineType(L".vtcex", shell32 + L",3", ShellExtensionCLSID);                     // on the exclusion list
        TVantrel::Core().ExcludedExtensions.push_back(L".VTCEX");
    }
    void TearDown() override {
        for (const wchar_t* ext : kTypes) {
            DeleteRegTree(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\") + ext);
            DeleteRegTree(HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\vt") + (ext + 1) + L"file");
        }
        MarkingTest::TearDown();
    }

    // One set of files in its folder; the names hold characters outside the ANSI code
    // page, so info texts and the journal turn UTF-8.
    std::vector<std::wstring> MakeSet(const std::wstring& folder) {
        ForceFolder(folder);
        std::vector<std::wstring> files;
        auto add = [&](const std::wstring& name, bool create = true) {
            files.push_back(folder + L"\\" + name);
            if (create) WriteFile(files.back(), "document text");
        };
        for (int i = 0; i < 6; ++i) add(L"doc" + std::to_wstring(i) + L".vtdoc");
        for (int i = 0; i < 6; ++i) add(L"lib" + std::to_wstring(i) + L".vtcpe");
        add(L"\u0394\u03b5\u03bb\u03c4\u03b1.vtcpe");
        add(L"gone.vtcgo");
        add(L"foreign.vtcfo");
        add(L"excluded.vtcex");
        add(L"unknown.vtcxx");
        add(L"README");
        add(L"missing.vtdoc", false);
        add(L"locked.vtdoc");
        return files;
    }

    struct Side {
        std::wstring folder, dataFolder;
        std::vector<std::wstring> files;
        HANDLE lock = INVALID_HANDLE_VALUE;
    };

    // Runs one step on both sides: the reference on side a, the engine on side b.
    void Step(const char* name, const std::vector<int>& pick, const std::function<void(bool engine)>& op) {
        for (Side* side : {&a_, &b_}) {
            TVantrel& core = TVantrel::Core();
            core.DataFolder = side->dataFolder;
            core.FileList.clear();
            for (int i : pick) core.FileList.push_back(side->files[std::size_t(i)]);
            op(side == &b_);
            (side == &a_ ? reportA_ : reportB_) = core.ErrorReportText();
            (side == &a_ ? errorsA_ : errorsB_) = core.HasErrors;
        }
        Compare(name);
    }

    void Compare(const char* step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(errorsA_, errorsB_);
        EXPECT_EQ(Replace(reportA_, a_.folder, b_.folder), reportB_);
        // The folders' paths are ASCII, which reads the same in ANSI and UTF-8.
        const auto journal = [](const Side& s) { return ReadFile(s.dataFolder + L"Changes.dat").value_or("<none>"); };
        const auto narrow = [](const std::wstring& w) { return std::string(w.begin(), w.end()); };
        std::string expected = journal(a_);
        const std::string from = narrow(a_.folder), to = narrow(b_.folder);
        for (std::size_t at = 0; (at = expected.find(from, at)) != std::string::npos; at += to.size())
            expected.replace(at, from.size(), to);
        EXPECT_EQ(expected, journal(b_));
        for (std::size_t i = 0; i < a_.files.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "file " << i);
            EXPECT_EQ(ReadFile(IconStreamPath(a_.files[i])), ReadFile(IconStreamPath(b_.files[i])));
            EXPECT_EQ(ReadFile(InfoStreamPath(a_.files[i])), ReadFile(InfoStreamPath(b_.files[i])));
        }
        EXPECT_EQ(WorkFoldersLeft(), 0);
    }

    Side a_, b_;
    std::wstring reportA_, reportB_;
    bool errorsA_ = false, errorsB_ = false;
};

}  // namespace

TEST_F(MarkingComparison, MixedListsEndAlikeAfterEveryOperation) {
    TVantrel& core = TVantrel::Core();
    const std::wstring dataRoot = core.DataFolder;
    a_ = {files_ / L"setA", dataRoot + L"dataA\\", {}};
    b_ = {files_ / L"setB", dataRoot + L"dataB\\", {}};
    for (Side* side : {&a_, &b_}) {
        side->files = MakeSet(side->folder);
        ForceFolder(side->dataFolder);
        // Another program holds the probe stream of the last file: nothing can be written to it.
        side->lock = CreateFileW((side->files.back() + kProbeStreamName).c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(side->lock, INVALID_HANDLE_VALUE);
    }
    const int count = int(a_.files.size());
    std::vector<int> all, even, odd;
    for (int i = 0; i < count; ++i) (i % 2 ? odd : even).push_back(i), all.push_back(i);
    const std::wstring library = MarkerLibrary();

    ReportWatcher watcher;
    Step("colour some", {0, 1, 6, 7, 12, 13, 14, 18}, [&](bool e) { e ? core.ApplyColor(kRed) : RefApplyColor(core, kRed); });
    Step("marker on all", all, [&](bool e) { e ? core.ApplyOverlay(library, 6) : RefApplyOverlay(core, library, 6); });
    Step("marker again, found on PATH", even, [&](bool e) {
        e ? core.ApplyOverlay(L"shell32.dll", 3) : RefApplyOverlay(core, L"shell32.dll", 3);
    });
    Step("another colour", odd, [&](bool e) { e ? core.ApplyColor(kBlue) : RefApplyColor(core, kBlue); });
    Step("marker of a missing library", all, [&](bool e) {
        e ? core.ApplyOverlay(L"C:\\no-such-folder\\markers.icl", 1) : RefApplyOverlay(core, L"C:\\no-such-folder\\markers.icl", 1);
    });
    Step("remove colour", even, [&](bool e) { e ? core.RemoveColor() : RefRemove(core, false); });
    Step("remove marker", all, [&](bool e) { e ? core.RemoveOverlay() : RefRemove(core, true); });
    Step("marker and colour again", all, [&](bool e) {
        e ? core.ApplyOverlay(library, 8) : RefApplyOverlay(core, library, 8);
        e ? core.ApplyColor(kRed) : RefApplyColor(core, kRed);
    });
    Step("restore some", {0, 3, 6, 9, 12}, [&](bool e) { e ? core.RestoreDefault() : RefRestoreDefault(core); });
    Step("roll back", all, [&](bool e) { e ? JournalRollback(core.Progress()) : RefRollback(); });

    for (Side* side : {&a_, &b_}) CloseHandle(side->lock);
    EXPECT_GT(watcher.Shown(), 10);
}
