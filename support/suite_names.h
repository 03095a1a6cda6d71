#pragma once

// Names of the suite's Start Menu entries. The installer writes them and the
// remover deletes them: one definition keeps the two in step.

inline constexpr wchar_t kUtilitiesFolder[] = L"Utilities";
inline constexpr wchar_t kHelpFolder[] = L"Help";

inline constexpr wchar_t kUninstallShortcutName[] = L"Uninstall NIMBA";
inline constexpr wchar_t kProductConfigShortcutName[] = L"Product & CAD Configuration";
inline constexpr wchar_t kCadConfigManagerShortcutName[] = L"CAD Configuration Manager";
inline constexpr wchar_t kFileAssociationShortcutName[] = L"File Association";

// Environment variables the installer registers (names end in the release code
// where they are release-specific).
inline constexpr wchar_t kSysDirVariable[] = L"NIMBA_SYSDIR";
inline constexpr wchar_t kRootVariablePrefix[] = L"ZEP_ROOT";
inline constexpr wchar_t kLocaleVariablePrefix[] = L"ZEP_LOCALE";
inline constexpr wchar_t kProductDirVariablePrefix[] = L"NIMBA";
inline constexpr wchar_t kProductDirVariableSuffix[] = L"_DIR";
