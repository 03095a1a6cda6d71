#include "product_environment.h"

#include <windows.h>

#include <setup_support/environment.h>
#include <setup_support/privilege.h>
#include <setup_support/release_identity.h>
#include <setup_support/wide_strings.h>

#include "owners.h"
#include "suite_names.h"

namespace {

// The suite's programs are 64-bit on every machine it installs on.
const wchar_t kSysDirValue[] = L"winx64";
const wchar_t kProductFolder[] = L"\\NIMBA";

} // namespace

int registerProductEnvironment(const wchar_t* root)
{
    int scope = isUserAdmin();

    UniqueString sysDir(joinStrings(1, kSysDirValue));
    setEnvVar(kSysDirVariable, sysDir.get(), REG_SZ, scope);

    UniqueString rootName(joinStrings(2, kRootVariablePrefix, kReleaseCode));
    setEnvVar(rootName.get(), root, REG_SZ, scope);

    UniqueString productName(joinStrings(3, kProductDirVariablePrefix, kReleaseCode, kProductDirVariableSuffix));
    UniqueString productDir(joinStrings(2, root, kProductFolder));
    setEnvVar(productName.get(), productDir.get(), REG_SZ, scope);
    return 0;
}
