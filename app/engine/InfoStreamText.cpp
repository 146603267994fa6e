#include "app/engine/InfoStreamText.h"

#include "app/common/TextFormat.h"

namespace vantrel {

int InfoInteger(const IniText& info, const wchar_t* key, int def) {
    const auto value = info.Read(kInfoSection, key);
    if (!value) return def;
    const auto number = ParseIniInteger(*value);
    return number ? *number : def;
}

TInfoMarking ReadInfoMarking(const IniText& info) {
    TInfoMarking m;
    m.MarkerFile = TrimBlanks(info.Read(kInfoSection, kOverlayIconFileKey).value_or(L""));
    m.MarkerIndex = InfoInteger(info, kOverlayIconIndexKey, 0);
    m.Color = InfoInteger(info, kColorKey, kNoColor);
    return m;
}

}  // namespace vantrel
