// A file type for marking tests: ".vtdoc" of type "vtdocfile", defined machine-wide (the
// classes Wine shows in HKEY_CLASSES_ROOT), whose normal icon is a real icon of the
// system's shell32.dll and whose icon handler is already the shell extension, so files of
// it pass every check without the registrator. Also a fresh data folder and TEMP.
#pragma once

#include "imaging/IconModel.h"  // before windows.h and its RGB macros

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/engine/VantrelClass.h"

namespace testsupport {

// Takes the engine's error reports while it lives, in place of the report dialog: counts
// the reports presented and keeps the last one's lines as the dialog shows them.
class ReportWatcher final : public vantrel::IErrorReportView {
public:
    ReportWatcher() : scope_(vantrel::TVantrel::Core(), &vantrel::TVantrel::Core().Progress(), this) {}
    int Shown() const { return shown_; }
    std::wstring Details() const { return details_; }
    void ShowReport(const std::wstring&, const std::wstring&, const std::vector<std::wstring>& lines) override {
        details_.clear();
        for (const std::wstring& line : lines) details_ += line + L"\r\n";
        ++shown_;
    }

private:
    int shown_ = 0;
    std::wstring details_;
    vantrel::TFeedbackScope scope_;
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
