#include "command_line.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

const wchar_t kInstallSwitch[] = L"-INSTALL";
const wchar_t kNoProductConfigShortcutSwitch[] = L"-NO_PRODUCT_CONFIG_START_MENU_SHORTCUT";

} // namespace

void parseInstallerCommandLine(InstallerOptions* options, const wchar_t* commandLine)
{
    int count = 0;
    // The platform's splitting rules decide quotes and backslashes.
    UniqueLocal<wchar_t*> arguments(CommandLineToArgvW(commandLine, &count));
    if (!arguments)
        return;

    for (int i = 0; i < count; ++i) {
        UniqueString element(joinStrings(1, arguments.get()[i]));
        UniqueString upper(new wchar_t[wcslen(element.get()) + 1]);
        upperCaseCopy(element.get(), upper.get());
        if (wcscmp(upper.get(), kInstallSwitch) == 0)
            options->installFlag = 1;
        if (wcscmp(upper.get(), kNoProductConfigShortcutSwitch) == 0)
            options->productConfigShortcutFlag = 0;
    }
}
