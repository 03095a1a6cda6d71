#include "environment_removal.h"

#include <setup_support/environment.h>
#include <setup_support/privilege.h>
#include <setup_support/release_identity.h>
#include <setup_support/wide_strings.h>

#include "owners.h"
#include "suite_names.h"

int unregisterProductEnvironment()
{
    int admin = isUserAdmin();

    UniqueString localeName(joinStrings(2, kLocaleVariablePrefix, kReleaseCode));
    if (admin != 0)
        deleteEnvVar(localeName.get(), kMachineScope);
    deleteEnvVar(localeName.get(), kUserScope);

    UniqueString rootName(joinStrings(2, kRootVariablePrefix, kReleaseCode));
    deleteEnvVar(rootName.get(), admin);

    UniqueString productName(joinStrings(3, kProductDirVariablePrefix, kReleaseCode, kProductDirVariableSuffix));
    deleteEnvVar(productName.get(), admin);
    return 0;
}
