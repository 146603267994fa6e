// What an engine operation tells the user while and after it runs: the progress over its
// files, and its error report. The engine knows only these two interfaces; the program's
// entry and the main window hand it the windows that implement them (the progress window
// and the report dialog), and tests and benchmarks run operations with the quiet ones.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

class IOperationProgress {
public:
    virtual ~IOperationProgress() = default;
    // An operation starts: count is the number of steps, or -1 when it is not known.
    virtual void Begin(int count) = 0;
    // The operation is done with one file (or skips it); the windows get to repaint.
    virtual void Step(const std::wstring& file) = 0;
    // The operation has ended, however it ended.
    virtual void Finish() = 0;
    // The user asked to stop: the operation leaves out the files it has not begun.
    virtual bool StopRequested() = 0;
};

class IErrorReportView {
public:
    virtual ~IErrorReportView() = default;
    // Presents the report of an operation in which a file failed: the summary, then the
    // report's lines (a file's path, its message, two empty lines, for each failure).
    virtual void ShowReport(const std::wstring& appTitle, const std::wstring& summary,
                            const std::vector<std::wstring>& lines) = 0;
};

// Nothing shown, nothing asked: the engine's feedback until the program hands it windows.
class TQuietProgress final : public IOperationProgress {
public:
    void Begin(int) override {}
    void Step(const std::wstring&) override {}
    void Finish() override {}
    bool StopRequested() override { return false; }
};

class TQuietReportView final : public IErrorReportView {
public:
    void ShowReport(const std::wstring&, const std::wstring&, const std::vector<std::wstring>&) override {}
};

// The report as shown, copied and saved: the summary ended by a line break, an empty
// line, then each report line ended by a line break.
std::wstring BuildErrorReportText(const std::wstring& summary, const std::vector<std::wstring>& lines);

}  // namespace vantrel
