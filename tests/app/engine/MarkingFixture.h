// A file type for marking tests: ".vtdoc" of type "vtdocfile", defined machine-wide (the
// classes Wine shows in HKEY_CLASSES_ROOT), whose normal icon is a real icon of the
// system's shell32.dll and whose icon handler is already the shell extension, so files of
// it pass every check without the registrator. Also a fresh data folder and TEMP.
#pragma once

#include "imaging/IconModel.h"  // before windows.h and its RGB macros

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <string>

#include "TestSupport.h"
#include "app/window/ErrorReportDialog.h"

namespace testsupport {

// Closes the error report when it appears and keeps its text; counts the reports shown.
class ReportWatcher {
public:
    ReportWatcher() : thread_([this] { Watch(); }) {}
    ~ReportWatcher() {
        stop_ = true;
        thread_.join();
    }
    int Shown() const { return shown_; }
    std::wstring Details() const { return details_; }

private:
    void Watch() {
        while (!stop_) {
            HWND dialog = WaitForOwnWindow([](HWND h) { return ClassName(h) == vantrel::kErrorReportClass; }, 200);
            if (!dialog) continue;
            details_ = WindowText(GetDlgItem(dialog, vantrel::kReportDetails));
            ++shown_;
            PressButton(dialog, vantrel::kReportOk);
            for (int i = 0; i < 100 && IsWindow(dialog); ++i) Sleep(20);
        }
    }
    std::atomic<bool> stop_{false};
    std::atomic<int> shown_{0};
    std::wstring details_;
    std::thread thread_;
};


class MarkingTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new file of the test type (or of another extension) with some content.
    std::wstring NewFile(const std::wstring& name);
    // The staged marker library, or a copy of the test marker when none is staged.
    std::wstring MarkerLibrary() const { return markerLibrary_; }
    // Icons as stored: the image sizes of an ICO file image, or of a file's icon stream.
    static std::vector<int> Sizes(const std::string& icoBytes);
    std::string IconStream(const std::wstring& file) const;
    std::string InfoStream(const std::wstring& file) const;
    std::string Journal() const;
    // The folders under TEMP that look like work folders ({GUID}).
    int WorkFoldersLeft() const;

    TempDir appDataDir_, tempDir_, files_, icons_;
    std::unique_ptr<ScopedEnv> appData_, temp_;
    std::wstring typeIcon_;      // the type's normal icon (.ico)
    std::wstring markerLibrary_;
};

}  // namespace testsupport
