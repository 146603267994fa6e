#include "engine/MarkingFixture.h"
#include "imaging/Colorize.h"
#include "imaging/IconLibrary.h"
#include "imaging/OverlayCompose.h"

#include <thread>

#include "app/common/FileHelpers.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const int kRed = 3556862, kBlue = 16748891;

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += static_cast<char>(c);  // the test paths are ASCII
    return s;
}


}  // namespace

class Marking : public MarkingTest {
protected:
    TVantrel& core() { return TVantrel::Core(); }
    void Run(const std::vector<std::wstring>& files, const std::function<void()>& operation) {
        core().FileList = files;
        operation();
    }
    std::string Expected(const std::wstring& overlay, int index, std::optional<int> color) {
        std::string text = "[vantrel]\r\n";
        if (!overlay.empty()) text += "OverlayIconFile=" + Narrow(overlay) + "\r\nOverlayIconIndex=" + std::to_string(index) + "\r\n";
        if (color) text += "Color=" + std::to_string(*color) + "\r\n";
        return text;
    }
    // The icon a marking should produce, made here from the same pieces.
    std::string Reference(std::optional<int> color, int marker) {
        TAdvancedIcon base, tinted, overlay, result;
        EXPECT_TRUE(base.LoadFromFile(typeIcon_));
        const TAdvancedIcon* under = &base;
        if (color) {
            ColorizeIcon(base, tinted, *color);
            under = &tinted;
        }
        if (marker < 0) {
            auto bytes = under->SaveToBytes();
            return std::string(bytes.begin(), bytes.end());
        }
        TIconLibrary library;
        EXPECT_TRUE(library.Open(std::filesystem::path(MarkerLibrary())));
        overlay.Assign(*library.GetIcon(marker));
        ComposeOverlay(*under, overlay, result);
        auto bytes = result.SaveToBytes();
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(Marking, MarkerThenColourAndBack) {
    const std::wstring doc = NewFile(L"report.vtdoc");
    Run({doc}, [&] { core().ApplyOverlay(MarkerLibrary(), 6); });
    EXPECT_FALSE(core().HasErrors);
    EXPECT_EQ(InfoStream(doc), Expected(MarkerLibrary(), 6, std::nullopt));
    EXPECT_EQ(Sizes(IconStream(doc)), (std::vector<int>{16, 32, 48, 256}));  // the marker's sizes the type has
    EXPECT_EQ(IconStream(doc), Reference(std::nullopt, 6));
    EXPECT_EQ(Journal(), Narrow(doc) + "\r\n");
    EXPECT_EQ(ReadFile(doc), "document text");

    // Colour over the marker; then the marker again with another one: the colour stays.
    Run({doc}, [&] { core().ApplyColor(kRed); });
    EXPECT_EQ(InfoStream(doc), Expected(MarkerLibrary(), 6, kRed));
    EXPECT_EQ(IconStream(doc), Reference(kRed, 6));
    Run({doc}, [&] { core().ApplyOverlay(MarkerLibrary(), 8); });
    EXPECT_EQ(InfoStream(doc), Expected(MarkerLibrary(), 8, kRed));
    EXPECT_EQ(IconStream(doc), Reference(kRed, 8));
    EXPECT_EQ(Journal(), Narrow(doc) + "\r\n");  // journalled once
    EXPECT_EQ(WorkFoldersLeft(), 0);
}

TEST_F(Marking, TheIconStreamIsAnIconForThePlatform) {
    const std::wstring doc = NewFile(L"shown.vtdoc");
    Run({doc}, [&] { core().ApplyOverlay(MarkerLibrary(), 6); });
    Run({doc}, [&] { core().ApplyColor(kBlue); });
    const std::string stream = IconStream(doc);
    // The platform loads the stream as an icon file at each size it holds...
    for (int size : {16, 32, 48, 256}) {
        HANDLE icon = LoadImageW(nullptr, (doc + L":vantrelicon").c_str(), IMAGE_ICON, size, size, LR_LOADFROMFILE);
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info{};
        ASSERT_TRUE(::GetIconInfo(static_cast<::HICON>(icon), &info));
        BITMAP bm{};
        GetObjectW(info.hbmColor, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(static_cast<::HICON>(icon));
    }
    // ...and every image as a resource.
    TAdvancedIcon parsed;
    ASSERT_TRUE(parsed.LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size())));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    const int count = bytes[4] | bytes[5] << 8;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* entry = bytes + 6 + 16 * i;
        const std::uint32_t size = entry[8] | entry[9] << 8 | entry[10] << 16 | std::uint32_t(entry[11]) << 24;
        const std::uint32_t offset = entry[12] | entry[13] << 8 | entry[14] << 16 | std::uint32_t(entry[15]) << 24;
        ASSERT_LE(std::size_t(offset) + size, stream.size());
        ::HICON icon = CreateIconFromResourceEx(const_cast<BYTE*>(bytes + offset), size, TRUE, 0x00030000, 0, 0, 0);
        EXPECT_NE(icon, nullptr) << "image " << i;
        if (icon) DestroyIcon(icon);
    }
    // Kept for the independent readers that run after this test.
    const std::wstring sample = GetEnvVar(L"VANTREL_SAMPLE_ICON");
    if (!sample.empty()) WriteFile(sample, stream);
}

TEST_F(Marking, ColourThenMarkerGivesTheSameIcon) {
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc");
    Run({a}, [&] { core().ApplyColor(kBlue); });
    EXPECT_EQ(InfoStream(a), Expected(L"", 0, kBlue));
    // An unmarked coloured file holds the tint itself, byte for byte.
    EXPECT_EQ(IconStream(a), Reference(kBlue, -1));
    Run({a}, [&] { core().ApplyOverlay(MarkerLibrary(), 0); });
    Run({b}, [&] { core().ApplyOverlay(MarkerLibrary(), 0); });
    Run({b}, [&] { core().ApplyColor(kBlue); });
    EXPECT_EQ(IconStream(a), IconStream(b));
    // Re-colouring tints the type's icon, never the earlier tint.
    Run({a}, [&] { core().ApplyColor(kRed); });
    EXPECT_EQ(IconStream(a), Reference(kRed, 0));
}

TEST_F(Marking, RemoveOperationsFromEveryState) {
    struct State {
        bool marker, colour;
    };
    for (State start : {State{true, false}, State{false, true}, State{true, true}}) {
        for (int op = 0; op < 3; ++op) {
            const std::wstring doc = NewFile(L"state.vtdoc");
            core().FileList = {doc};
            if (start.marker) core().ApplyOverlay(MarkerLibrary(), 2);
            if (start.colour) core().ApplyColor(kRed);
            ASSERT_FALSE(core().HasErrors);
            if (op == 0) core().RemoveOverlay();
            if (op == 1) core().RemoveColor();
            if (op == 2) core().RestoreDefault();
            EXPECT_FALSE(core().HasErrors);
            const bool keepColour = op == 0 && start.colour;
            const bool keepMarker = op == 1 && start.marker;
            SCOPED_TRACE(testing::Message() << "marker " << start.marker << " colour " << start.colour << " op " << op);
            if (!keepColour && !keepMarker) {
                EXPECT_FALSE(Exists(doc + L":vantrelicon"));
                EXPECT_FALSE(Exists(doc + L":vantreliconinfo"));
                EXPECT_EQ(Journal(), "");
            } else {
                EXPECT_EQ(InfoStream(doc), keepColour ? Expected(L"", 0, kRed) : Expected(MarkerLibrary(), 2, std::nullopt));
                EXPECT_EQ(IconStream(doc), keepColour ? Reference(kRed, -1) : Reference(std::nullopt, 2));
                EXPECT_EQ(Journal(), Narrow(doc) + "\r\n");
            }
            core().FileList = {doc};
            core().RestoreDefault();
            DeleteFileW(doc.c_str());
        }
    }
    // Files never customised: nothing happens and nothing is reported.
    const std::wstring plain = NewFile(L"plain.vtdoc");
    for (int op = 0; op < 3; ++op) {
        core().FileList = {plain};
        if (op == 0) core().RemoveOverlay();
        if (op == 1) core().RemoveColor();
        if (op == 2) core().RestoreDefault();
        EXPECT_FALSE(core().HasErrors);
    }
    EXPECT_EQ(WorkFoldersLeft(), 0);
}

TEST_F(Marking, InfoStreamWithoutIconStreamIsLeftAlone) {
    const std::wstring doc = NewFile(L"half.vtdoc");
    WriteFile(doc + L":vantreliconinfo", "[vantrel]\r\nColor=255\r\n");
    for (int op = 0; op < 3; ++op) {
        core().FileList = {doc};
        if (op == 0) core().RemoveOverlay();
        if (op == 1) core().RemoveColor();
        if (op == 2) core().RestoreDefault();
        EXPECT_FALSE(core().HasErrors);
        EXPECT_EQ(InfoStream(doc), "[vantrel]\r\nColor=255\r\n");
    }
}

TEST_F(Marking, MissingMarkerEndsTheRunAfterTheFirstEligibleFile) {
    const std::wstring unknown = NewFile(L"a.vtunknown");
    const std::wstring first = NewFile(L"first.vtdoc"), second = NewFile(L"second.vtdoc");
    ReportWatcher watcher;
    Run({unknown, first, second}, [&] { core().ApplyOverlay(L"C:\\nowhere\\gone.icl", 3); });
    EXPECT_EQ(core().Errors.size(), 8u);  // two blocks
    EXPECT_EQ(core().Errors[0], unknown);
    EXPECT_EQ(core().Errors[4], first);
    EXPECT_EQ(core().Errors[5], L"File with icon \"C:\\nowhere\\gone.icl\" doesn't exist.\r\nPlease select another icon for customization.");
    EXPECT_EQ(InfoStream(first), Expected(L"C:\\nowhere\\gone.icl", 3, std::nullopt));  // info written, no icon
    EXPECT_FALSE(Exists(first + L":vantrelicon"));
    EXPECT_FALSE(Exists(second + L":vantreliconinfo"));  // never visited
    EXPECT_EQ(watcher.Shown(), 1);
    EXPECT_EQ(WorkFoldersLeft(), 0);
}

// Records the engine's progress steps and asks to stop once it has seen a number of them.
class StoppingProgress final : public IOperationProgress {
public:
    explicit StoppingProgress(std::size_t stopAfter) : stopAfter_(stopAfter) {}
    void Begin(int) override {}
    void Step(const std::wstring& file) override { steps.push_back(file); }
    void Finish() override {}
    bool StopRequested() override { return steps.size() >= stopAfter_; }
    std::vector<std::wstring> steps;

private:
    std::size_t stopAfter_;
};

TEST_F(Marking, OperationsStepPerFileAndLeaveOutWhatFollowsAStop) {
    const std::wstring a = NewFile(L"a.vtdoc"), b = NewFile(L"b.vtdoc"), c = NewFile(L"c.vtdoc");
    StoppingProgress progress(2);
    {
        TFeedbackScope scope(core(), &progress, nullptr);
        Run({a, NewFile(L"d.vtunknown"), b, c}, [&] { core().ApplyColor(kRed); });
    }
    // The failed file is no step; the stop comes after the second coloured file.
    EXPECT_EQ(progress.steps, (std::vector<std::wstring>{a, b}));
    EXPECT_EQ(IconStream(b), Reference(kRed, -1));
    EXPECT_FALSE(Exists(c + L":vantreliconinfo"));
    EXPECT_EQ(Journal(), Narrow(a) + "\r\n" + Narrow(b) + "\r\n");

    // The rollback steps through the journal the same way and keeps what it left out.
    StoppingProgress rollback(1);
    JournalRollback(rollback);
    EXPECT_EQ(rollback.steps, (std::vector<std::wstring>{a}));
    EXPECT_FALSE(HasIconStream(a));
    EXPECT_TRUE(HasIconStream(b));
    EXPECT_EQ(Journal(), Narrow(b) + "\r\n");
}

TEST_F(Marking, BareMarkerNameIsFoundOnPath) {
    const std::wstring doc = NewFile(L"bare.vtdoc");
    ScopedEnv path(L"PATH", GetEnvVar(L"PATH") + L";" + ExtractFileDir(MarkerLibrary()));
    Run({doc}, [&] { core().ApplyOverlay(L"Main.icl", 5); });
    EXPECT_FALSE(core().HasErrors);
    EXPECT_EQ(InfoStream(doc), Expected(L"Main.icl", 5, std::nullopt));
    EXPECT_EQ(IconStream(doc), Reference(std::nullopt, 5));
}

TEST_F(Marking, ADeletedRecordedMarkerIsReportedForItsFileOnly) {
    const std::wstring copy = icons_ / L"Copy.icl";
    ASSERT_TRUE(CopyFileW(MarkerLibrary().c_str(), copy.c_str(), FALSE));
    const std::wstring lost = NewFile(L"lost.vtdoc"), kept = NewFile(L"kept.vtdoc");
    Run({lost}, [&] { core().ApplyOverlay(copy, 6); });
    Run({kept}, [&] { core().ApplyOverlay(MarkerLibrary(), 6); });
    DeleteFileW(copy.c_str());
    ReportWatcher watcher;
    Run({lost, kept}, [&] { core().ApplyColor(kRed); });
    ASSERT_EQ(core().Errors.size(), 4u);
    EXPECT_EQ(core().Errors[0], lost);
    EXPECT_EQ(IconStream(kept), Reference(kRed, 6));
    EXPECT_EQ(InfoStream(lost), Expected(copy, 6, kRed));  // the colour is recorded all the same
    EXPECT_EQ(watcher.Shown(), 1);
    EXPECT_NE(watcher.Details().find(L"File with icon"), std::wstring::npos);
}

TEST_F(Marking, UnwritableFilesAreReportedByTheMarkingOperationsAndKeepTheirStreams) {
    const std::wstring doc = NewFile(L"locked.vtdoc");
    Run({doc}, [&] { core().ApplyOverlay(MarkerLibrary(), 6); });
    const std::string icon = IconStream(doc), info = InfoStream(doc);
    // Another program holds the probe stream: no new stream can be written.
    HANDLE h = CreateFileW((doc + L":kvtest").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        ReportWatcher watcher;
        for (int op = 0; op < 2; ++op) {
            core().FileList = {doc};
            if (op == 0) core().ApplyOverlay(MarkerLibrary(), 8);
            if (op == 1) core().ApplyColor(kRed);
            EXPECT_TRUE(core().HasErrors) << op;
            EXPECT_EQ(core().Errors[1].substr(0, 24), L"Can't write to the file ") << op;
        }
        for (int i = 0; i < 100 && watcher.Shown() < 2; ++i) Sleep(20);
        EXPECT_EQ(watcher.Shown(), 2);
    }
    EXPECT_EQ(IconStream(doc), icon);
    EXPECT_EQ(InfoStream(doc), info);
    // Removing creates no stream: the held probe does not stop it.
    Run({doc}, [&] { core().RestoreDefault(); });
    CloseHandle(h);
    EXPECT_FALSE(core().HasErrors);
    EXPECT_EQ(IconStream(doc), "");
}

TEST_F(Marking, AFailureInsideExtractionLeavesNoWorkFolder) {
    const std::wstring doc = NewFile(L"broken.vtdoc");
    // A resource id the library does not hold fails inside the extraction and ends the run.
    EXPECT_THROW(Run({doc}, [&] { core().ApplyOverlay(MarkerLibrary(), -4000); }), vantrel::Error);
    EXPECT_EQ(WorkFoldersLeft(), 0);
}
