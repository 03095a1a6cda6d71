#include <setup_support/redirection_guard.h>

#include <windows.h>

namespace {

// Older headers lack the policy; the platform's values.
const int kRedirectionTrustPolicy = 16; // ProcessRedirectionTrustPolicy
const DWORD kEnforceRedirectionTrust = 0x1;

using SetProcessMitigationPolicyFunction = BOOL(WINAPI*)(int, PVOID, SIZE_T);

} // namespace

int enableRedirectionGuard()
{
    // Resolved at run time: a program importing the call would not start on
    // Vista or 7, which lack it.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "SetProcessMitigationPolicy") : nullptr;
    if (address == nullptr)
        return 0;
    auto setProcessMitigationPolicy =
        reinterpret_cast<SetProcessMitigationPolicyFunction>(reinterpret_cast<void*>(address));
    DWORD policy = kEnforceRedirectionTrust;
    return setProcessMitigationPolicy(kRedirectionTrustPolicy, &policy, sizeof(policy)) ? 1 : 0;
}
