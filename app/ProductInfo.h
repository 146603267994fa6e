// The product, its maker and the maker's addresses: the one place every window that
// names them takes them from.
#pragma once

namespace vantrel {

inline constexpr wchar_t kProductName[] = L"Vantrel";
inline constexpr wchar_t kMakerName[] = L"Kestrane";
inline constexpr wchar_t kMakerWebSiteUrl[] = L"https://www.kestrane.com/vantrel/";
inline constexpr wchar_t kMakerContactUrl[] = L"https://www.kestrane.com/contact/";

}  // namespace vantrel
