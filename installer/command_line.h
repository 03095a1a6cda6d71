#pragma once

// The installer's two switches, held together in this order.
struct InstallerOptions {
    int installFlag;               // 1 after "-INSTALL": rewrite the toolbar list
    int productConfigShortcutFlag; // 0 after "-NO_PRODUCT_CONFIG_START_MENU_SHORTCUT"
};

// Sets the flags from the whole process command line (program path included).
// A switch matches as a whole element, in any case of its ASCII letters.
void parseInstallerCommandLine(InstallerOptions* options, const wchar_t* commandLine);
