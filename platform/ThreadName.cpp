#include "platform/ThreadName.h"

#include <windows.h>

void NameThisThread(const wchar_t* name)
{
    // Looked up rather than linked: the sensor's runtime also runs on Windows 7.
    using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDescription = kernel32 == nullptr
                                    ? nullptr
                                    : reinterpret_cast<SetThreadDescriptionFunction>(
                                          reinterpret_cast<void*>(::GetProcAddress(
                                              kernel32, "SetThreadDescription")));
    if (setDescription != nullptr) {
        setDescription(::GetCurrentThread(), name);
    }
}
