#pragma once

// Who the programs run as, and on which Windows.

// 1 when the calling thread (or, when it does not impersonate, the process)
// would be granted access reserved to an enabled BUILTIN\Administrators group;
// 0 otherwise and on every failure.
int isUserAdmin();

// The service-pack text of the running Windows (empty when there is none) as a
// new string, also stored through `servicePack`; released with freeString.
wchar_t* getServicePackName(wchar_t** servicePack);
