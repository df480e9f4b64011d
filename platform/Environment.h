// The environment, where ZARVO_LOG names the log (PlatformPosix.cpp,
// PlatformWin32.cpp).
#ifndef ZARVO_PLATFORM_ENVIRONMENT_H
#define ZARVO_PLATFORM_ENVIRONMENT_H

class CString;

// The value of an environment variable; false (and "") when it is not set.
bool PlatformGetEnv(const char* pszName, CString& strValue);

#endif
