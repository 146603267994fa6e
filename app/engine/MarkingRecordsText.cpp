#include "app/engine/MarkingRecordsText.h"

#include <climits>
#include <unordered_map>

#include "app/common/TextFormat.h"

namespace vantrel {

namespace {

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default: out += c;
        }
    }
    return out;
}

bool Unescape(const std::string& s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i == s.size()) return false;
        switch (s[i]) {
            case '\\': out += '\\'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            default: return false;
        }
    }
    return true;
}

bool ParseInt(const std::string& s, int& value) {
    if (s.empty() || s.size() > 11) return false;
    std::size_t i = 0;
    const bool negative = s[0] == '-';
    if (negative) i = 1;
    if (i == s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    value = int(v);
    return true;
}

bool ValidTime(const std::string& t) {
    static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
    if (t.size() != sizeof(kPattern) - 1) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (kPattern[i] == 'd' ? (t[i] < '0' || t[i] > '9') : t[i] != kPattern[i]) return false;
    }
    return true;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::vector<std::string> SplitLinesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        const std::size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) end = bytes.size();
        if (end > start && bytes[end - 1] == '\r') --end;
        lines.emplace_back(bytes.substr(start, end - start));
        start = next;
    }
    return lines;
}

// For each path the index of its last line; unreadable and empty lines are left out.
std::unordered_map<std::wstring, std::size_t> LastLines(const TParsedRecords& parsed, PathFolding fold) {
    std::unordered_map<std::wstring, std::size_t> last;
    for (std::size_t i = 0; i < parsed.Lines.size(); ++i) {
        const TParsedRecordLine& line = parsed.Lines[i];
        if (line.Readable && !line.Change.Record.Path.empty()) last[fold(line.Change.Record.Path)] = i;
    }
    return last;
}

}  // namespace

std::string FormatRecordLine(const TRecordChange& change) {
    const TMarkingRecord& r = change.Record;
    if (change.Drop) return "-\t" + Escape(EncodeUtf8(r.Path)) + "\t" + Escape(EncodeUtf8(r.Time));
    return "+\t" + Escape(EncodeUtf8(r.Path)) + "\t" + Escape(EncodeUtf8(r.MarkerFile)) + "\t" + std::to_string(r.MarkerIndex) +
           "\t" + std::to_string(r.Color) + "\t" + Escape(EncodeUtf8(r.Time));
}

bool ParseRecordLine(const std::string& line, TRecordChange& change, std::wstring& reason) {
    change = TRecordChange{};
    const std::vector<std::string> fields = SplitFields(line);
    const bool add = fields[0] == "+";
    if (!add && fields[0] != "-") {
        reason = L"it starts with neither \"+\" nor \"-\"";
        return false;
    }
    const std::size_t wanted = add ? 6 : 3;
    if (fields.size() != wanted) {
        reason = L"it has " + std::to_wstring(fields.size()) + L" fields instead of " + std::to_wstring(wanted);
        return false;
    }
    std::vector<std::wstring> text(fields.size());
    for (std::size_t i = 1; i < fields.size(); ++i) {
        std::string raw;
        if (!Unescape(fields[i], raw)) {
            reason = L"field " + std::to_wstring(i + 1) + L" has a backslash that escapes nothing known";
            return false;
        }
        auto decoded = DecodeUtf8(raw);
        if (!decoded) {
            reason = L"field " + std::to_wstring(i + 1) + L" is not UTF-8 text";
            return false;
        }
        text[i] = std::move(*decoded);
    }
    TMarkingRecord& r = change.Record;
    r.Path = text[1];
    if (r.Path.empty() || r.Path.find(L'\0') != std::wstring::npos) {
        reason = L"it names no file";
        return false;
    }
    const std::string& time = add ? fields[5] : fields[2];
    if (!ValidTime(time)) {
        reason = L"its time is not of the form YYYY-MM-DDTHH:MM:SSZ";
        return false;
    }
    r.Time.assign(time.begin(), time.end());  // ASCII, checked above
    change.Drop = !add;
    if (add) {
        r.MarkerFile = text[2];
        if (r.MarkerFile.find(L'\0') != std::wstring::npos) {
            reason = L"its marker library names no file";
            return false;
        }
        if (!ParseInt(fields[3], r.MarkerIndex) || !ParseInt(fields[4], r.Color)) {
            reason = L"its marker index or colour is no integer";
            return false;
        }
        if (r.MarkerFile.empty() && r.Color == 0x1FFFFFFF) {
            reason = L"it records neither a marker nor a colour";
            return false;
        }
    }
    return true;
}


std::vector<std::string> SplitRecordLines(std::string_view bytes) { return SplitLinesOf(bytes); }

TParsedRecords ParseRecordsText(std::string_view bytes) {
    TParsedRecords parsed;
    std::vector<std::string> lines = SplitLinesOf(bytes);
    if (lines.empty()) return parsed;
    parsed.VersionLine = lines[0];
    if (lines[0] != kRecordsVersionLine) parsed.ForeignVersion = true;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        TParsedRecordLine line;
        line.Text = std::move(lines[i]);
        if (parsed.ForeignVersion) {
            line.Reason = L"the file's version line is not known to this program";
        } else if (line.Text.empty()) {
            line.Readable = true;  // an empty line carries nothing; a compaction drops it
            line.Change.Drop = true;
        } else {
            line.Readable = ParseRecordLine(line.Text, line.Change, line.Reason);
        }
        parsed.Lines.push_back(std::move(line));
    }
    return parsed;
}

TRecordContents RecordContents(const TParsedRecords& parsed, PathFolding fold) {
    TRecordContents contents;
    contents.ForeignVersion = parsed.ForeignVersion;
    const auto last = LastLines(parsed, fold);
    for (std::size_t i = 0; i < parsed.Lines.size(); ++i) {
        const TParsedRecordLine& line = parsed.Lines[i];
        if (!line.Readable) {
            contents.Unreadable.push_back({i + 2, line.Text, line.Reason});
            continue;
        }
        if (line.Change.Drop || line.Change.Record.Path.empty()) continue;
        auto it = last.find(fold(line.Change.Record.Path));
        if (it != last.end() && it->second == i) contents.Records.push_back(line.Change.Record);
    }
    if (parsed.ForeignVersion) {
        // The version line itself is named first: it is why nothing could be read.
        contents.Unreadable.insert(contents.Unreadable.begin(),
                                   {1, parsed.VersionLine, L"it is not the version line of this program's records"});
    }
    return contents;
}

std::string CompactedRecordsText(const TParsedRecords& parsed, PathFolding fold) {
    std::string out = std::string(kRecordsVersionLine) + "\r\n";
    const auto last = LastLines(parsed, fold);
    for (std::size_t i = 0; i < parsed.Lines.size(); ++i) {
        const TParsedRecordLine& line = parsed.Lines[i];
        bool keep = !line.Readable;
        if (line.Readable && !line.Change.Drop && !line.Change.Record.Path.empty()) {
            auto it = last.find(fold(line.Change.Record.Path));
            keep = it != last.end() && it->second == i;
        }
        if (keep) out += line.Text + "\r\n";
    }
    return out;
}

std::size_t LiveRecordLines(const TParsedRecords& parsed, PathFolding fold) {
    std::size_t live = 0;
    const auto last = LastLines(parsed, fold);
    for (const auto& [key, index] : last)
        if (!parsed.Lines[index].Change.Drop) ++live;
    std::size_t unreadable = 0;
    for (const TParsedRecordLine& line : parsed.Lines)
        if (!line.Readable) ++unreadable;
    return live + unreadable;
}


}  // namespace vantrel
