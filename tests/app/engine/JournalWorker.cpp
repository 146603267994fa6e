// A second program instance for the journal tests: adds <count> paths
// "<prefix><n>.txt" to the journal file, as fast as it can.
// Usage: journal_worker <journal file> <prefix> <count>
//        journal_worker --records <records file> <prefix> <count>: one record write per path
// Prints the time the adds took, for measuring the journal's cost as it grows.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkingRecords.h"
#include "imaging/Error.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"--records") {
        try {
            vantrel::TMarkingRecords records(argv[2]);
            for (int i = 0, n = _wtoi(argv[4]); i < n; ++i) {
                vantrel::TRecordChange change;
                change.Record = {std::wstring(argv[3]) + std::to_wstring(i) + L".txt", L"", 0, i, L"2024-01-01T00:00:00Z"};
                records.Write({change});
            }
        } catch (const std::exception& e) {
            std::fprintf(stderr, "journal_worker: %s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (argc != 4) return 2;
    try {
        vantrel::TChangeJournal journal(argv[1]);
        const int count = _wtoi(argv[3]);
        LARGE_INTEGER freq, start, end;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < count; ++i) journal.Add(std::wstring(argv[2]) + std::to_wstring(i) + L".txt");
        QueryPerformanceCounter(&end);
        std::printf("%d adds: %.1f ms\n", count, 1000.0 * double(end.QuadPart - start.QuadPart) / double(freq.QuadPart));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "journal_worker: %s\n", e.what());
        return 1;
    }
    return 0;
}
