// The Marked Files window on a journal of N files (8 in 10 marked, 1 lost, 1 missing), under
// the real Win32 layer: the time until the window has painted its first screen of rows,
// until the background look at every file is done, and to sort and filter, each against
// baselines measured in the same run: the same window on an empty journal, and a plain
// report ListView filled with N rows of text.
//
//   marked_files_bench [N]     (N defaults to 10000)
#include "imaging/IconLibrary.h"  // before windows.h and its RGB macros

#include "app/window/MarkedFilesForm.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/common/FileHelpers.h"
#include "bench/BenchClock.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"

using namespace vantrel;

namespace {

using bench::Now;

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Opens the window and paints it; the seconds that took. The form stays open.
double OpenAndPaint(TfrmMarkedFiles& form) {
    const double start = Now();
    form.Create(nullptr);
    UpdateWindow(form.Handle());
    UpdateWindow(GetDlgItem(form.Handle(), kMfList));
    return Now() - start;
}

double PlainListView(const std::vector<std::wstring>& files) {
    const double start = Now();
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | LVS_REPORT, 0, 0, 900, 500,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    for (int c = 0; c < 3; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = const_cast<wchar_t*>(L"Column");
        column.cx = 200;
        ListView_InsertColumn(list, c, &column);
    }
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < int(files.size()); ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<wchar_t*>(files[std::size_t(i)].c_str());
        ListView_InsertItem(list, &item);
        ListView_SetItemText(list, i, 1, const_cast<wchar_t*>(L"marked"));
        ListView_SetItemText(list, i, 2, const_cast<wchar_t*>(L"Approved"));
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    UpdateWindow(list);
    const double took = Now() - start;
    DestroyWindow(list);
    return took;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int count = argc > 1 ? _wtoi(argv[1]) : 10000;
    if (count <= 0) return 2;
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"marked_files_bench";
    DeleteFolderTree(root);
    ForceFolder(root + L"\\appdata");
    SetEnvironmentVariableW(L"AppData", (root + L"\\appdata").c_str());
    TVantrel::InitCore();
    TVantrel& core = TVantrel::Core();

    // Baseline: the window on an empty journal.
    double empty = 0;
    {
        TfrmMarkedFiles form;
        empty = OpenAndPaint(form);
    }

    // The journal, the records and the files: a real icon stream on the marked ones.
    const std::wstring shell32 = GetEnvVar(L"SystemRoot") + L"\\system32\\shell32.dll";
    const std::wstring ico = root + L"\\type.ico";
    ExtractIconResource(std::filesystem::path(shell32), 3, std::filesystem::path(ico));
    const std::vector<unsigned char> icon = ReadFileBytes(ico);
    std::vector<std::wstring> files;
    std::wstring journal;
    std::vector<TRecordChange> changes;
    for (int i = 0; i < count; ++i) {
        const std::wstring sub = root + L"\\files\\" + std::to_wstring(i / 100);
        if (i % 100 == 0) ForceFolder(sub);
        const std::wstring file = sub + L"\\doc" + std::to_wstring(i) + L".txt";
        files.push_back(file);
        journal += file + L"\r\n";
        TRecordChange change;
        change.Record = {file, L"C:\\icl\\Main.icl", i % 13, i % 3 ? 0x1FFFFFFF : 16748891, L"2024-05-06T07:08:09Z"};
        changes.push_back(change);
        if (i % 10 == 9) continue;  // missing
        WriteFileBytes(file, "text", 4);
        if (i % 10 == 8) continue;  // marking lost
        WriteFileBytes(IconStreamPath(file), icon.data(), icon.size());
    }
    const std::string journalBytes(journal.begin(), journal.end());
    WriteFileBytes(JournalFileName(), journalBytes.data(), journalBytes.size());
    TMarkingRecords(MarkingRecordsFileName()).Write(changes);

    TfrmMarkedFiles form;
    const double open = OpenAndPaint(form);
    const double looksStart = Now();
    form.WaitForLooks();
    const double looks = Now() - looksStart + open;
    double start = Now();
    form.SortBy(kColName);
    UpdateWindow(GetDlgItem(form.Handle(), kMfList));
    const double sortName = Now() - start;
    start = Now();
    form.SortBy(kColState);
    UpdateWindow(GetDlgItem(form.Handle(), kMfList));
    const double sortState = Now() - start;
    start = Now();
    SetWindowTextW(GetDlgItem(form.Handle(), kMfFilter), L"doc12");
    UpdateWindow(GetDlgItem(form.Handle(), kMfList));
    const double filter = Now() - start;
    const int shown = form.RowCount();
    Pump();
    const double plain = PlainListView(files);

    std::printf("Marked Files window, %d journalled files (%d shown after the filter)\n", count, shown);
    std::printf("  empty journal, open and paint:    %8.1f ms (baseline)\n", empty * 1000);
    std::printf("  plain ListView of %d rows:     %8.1f ms (baseline)\n", count, plain * 1000);
    std::printf("  open and paint the first screen:  %8.1f ms  = %.2f x empty, %.2f x plain ListView\n", open * 1000,
                open / empty, open / plain);
    std::printf("  every file looked at (background): %7.1f ms  = %.2f x plain ListView\n", looks * 1000, looks / plain);
    std::printf("  sort by name:                     %8.1f ms  = %.2f x plain ListView\n", sortName * 1000,
                sortName / plain);
    std::printf("  sort by state:                    %8.1f ms  = %.2f x plain ListView\n", sortState * 1000,
                sortState / plain);
    std::printf("  filter by text:                   %8.1f ms  = %.2f x plain ListView\n", filter * 1000,
                filter / plain);
    (void)core;
    TVantrel::DoneCore();
    DeleteFolderTree(root);
    return 0;
}
