// Identifiers of the shell extension's classes, interface, type library and application.
#pragma once

#include <windows.h>

namespace shlext {

// {3F2E80AA-C708-4751-B0E1-5DF8361A4C9B}
inline constexpr CLSID CLSID_SimpleShlExt = {0x3F2E80AA, 0xC708, 0x4751, {0xB0, 0xE1, 0x5D, 0xF8, 0x36, 0x1A, 0x4C, 0x9B}};
// {4718F949-F953-4038-9DC3-E72D050B1DBC}: the Windows 11 context-menu command.
inline constexpr CLSID CLSID_MarkFileCommand = {0x4718F949, 0xF953, 0x4038, {0x9D, 0xC3, 0xE7, 0x2D, 0x05, 0x0B, 0x1D, 0xBC}};
// {BAB6DAFF-3714-46C8-938A-9DDB648D2ACA}: registered by the module script, not served.
inline constexpr CLSID CLSID_CompReg = {0xBAB6DAFF, 0x3714, 0x46C8, {0x93, 0x8A, 0x9D, 0xDB, 0x64, 0x8D, 0x2A, 0xCA}};
// {72446AA0-3F9F-42C6-9344-AE03B0D6CB73}
inline constexpr IID IID_ISimpleShlExt = {0x72446AA0, 0x3F9F, 0x42C6, {0x93, 0x44, 0xAE, 0x03, 0xB0, 0xD6, 0xCB, 0x73}};
// {4A229E0A-D8CE-4853-B971-151085DF0457}
inline constexpr GUID LIBID_SimpleExtLib = {0x4A229E0A, 0xD8CE, 0x4853, {0xB9, 0x71, 0x15, 0x10, 0x85, 0xDF, 0x04, 0x57}};

inline constexpr wchar_t kAppId[] = L"{84E9D6BE-591D-42D2-8CEB-47EBFE2F4AC3}";

// Resource identifiers.
inline constexpr int IDR_MODULE_SCRIPT = 101;
inline constexpr int IDR_CLASS_SCRIPT = 106;
inline constexpr int IDS_PROJNAME = 100;
inline constexpr int IDI_SWATCH_FIRST = 300;  // 300..332: eleven hues in three shades
inline constexpr int IDI_MENU = 333;

// The menu's colour swatches: hue h in shade s (0 darkest, 2 the menu's own colour) is
// resource IDI_SWATCH_FIRST + 3 * h + s.
inline constexpr int IDI_SWATCH_BLUE = 302;
inline constexpr int IDI_SWATCH_GRAY = 308;
inline constexpr int IDI_SWATCH_GREEN = 311;
inline constexpr int IDI_SWATCH_RED = 326;

}  // namespace shlext
