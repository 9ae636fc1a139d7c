#include "settings/Settings.h"

#include <windows.h>

#include <vector>

#include "platform/Platform.h"
#include "platform/ScopedHandle.h"

namespace {

const wchar_t kSection[] = L"Settings";
const wchar_t kLastPathKey[] = L"LastPath";
const wchar_t kDefaultLastPath[] = L"output.mp4";
const wchar_t kSaveSkeletonKey[] = L"SaveSkeletonData";
const wchar_t kSaveDepthKey[] = L"SaveDepth";
const wchar_t kSoundDeviceKey[] = L"SoundDevice";
const wchar_t kSoundDeviceNameKey[] = L"SoundDeviceName";
// Longer than any endpoint id or friendly name; a value of this length is taken as damaged.
constexpr DWORD kSoundValueCapacity = 1024;
const wchar_t kPublishLslKey[] = L"PublishLsl";

// Creates `iniPath` holding only a UTF-16 LE byte-order mark when no file is there yet; an
// existing file, or one that a racing writer made first, is left as it is.
// Why: the profile functions make a new file in the 8-bit code page, which loses characters
// outside it, but they keep the encoding of a file that starts with this mark.
void CreateUnicodeIniIfMissing(const std::wstring& iniPath)
{
    ScopedHandle file(::CreateFileW(iniPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        return;
    }
    const BYTE byteOrderMark[2] = {0xFF, 0xFE};
    DWORD written = 0;
    if (!::WriteFile(file.Get(), byteOrderMark, sizeof(byteOrderMark), &written, nullptr) ||
        written != sizeof(byteOrderMark)) {
        // An empty file would be taken for an 8-bit one: leave no file rather than that.
        file.Reset();
        ::DeleteFileW(iniPath.c_str());
    }
}

// Stores `value` under `key` in the Settings section, making a missing file UTF-16 first.
void WriteSetting(const wchar_t* key, const wchar_t* value)
{
    const std::wstring iniPath = GetSettingsIniPath();
    if (iniPath.empty()) {
        return;
    }
    CreateUnicodeIniIfMissing(iniPath);
    ::WritePrivateProfileStringW(kSection, key, value, iniPath.c_str());
}

// A switch is on when its stored value is exactly "1".
bool ReadSwitch(const wchar_t* key)
{
    const std::wstring iniPath = GetSettingsIniPath();
    if (iniPath.empty()) {
        return false;
    }
    wchar_t value[4] = {};
    ::GetPrivateProfileStringW(kSection, key, L"0", value, 4, iniPath.c_str());
    return value[0] == L'1' && value[1] == L'\0';
}

} // namespace

std::wstring GetSettingsIniPath()
{
    std::wstring folder;
    if (!QueryAppDataFolder(folder) || folder.empty()) {
        return std::wstring();
    }
    folder += L"\\NimbraVIZ";
    // Fails harmlessly once the folder exists; a missing parent folder is not made.
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\settings.ini";
}

std::wstring ReadLastPath()
{
    const std::wstring iniPath = GetSettingsIniPath();
    if (iniPath.empty()) {
        return kDefaultLastPath;
    }
    wchar_t value[MAX_PATH] = {};
    ::GetPrivateProfileStringW(kSection, kLastPathKey, kDefaultLastPath, value, MAX_PATH,
                               iniPath.c_str());
    return value;
}

void WriteLastPath(const std::wstring& value)
{
    WriteSetting(kLastPathKey, value.c_str());
}

bool ReadSaveSkeletonData()
{
    return ReadSwitch(kSaveSkeletonKey);
}

bool ReadSaveDepth()
{
    return ReadSwitch(kSaveDepthKey);
}

void WriteSaveSkeletonData(bool on)
{
    WriteSetting(kSaveSkeletonKey, on ? L"1" : L"0");
}

void WriteSaveDepth(bool on)
{
    WriteSetting(kSaveDepthKey, on ? L"1" : L"0");
}

bool ReadSoundDevice(std::wstring& id, std::wstring& name)
{
    id.clear();
    name.clear();
    const std::wstring iniPath = GetSettingsIniPath();
    if (iniPath.empty()) {
        return false;
    }
    // A default no stored value can equal tells a missing key from an empty one.
    const wchar_t kMissing[] = L"\n";
    std::vector<wchar_t> value(kSoundValueCapacity);
    const auto read = [&](const wchar_t* key) {
        const DWORD length = ::GetPrivateProfileStringW(kSection, key, kMissing, value.data(),
                                                        kSoundValueCapacity, iniPath.c_str());
        return length + 2 < kSoundValueCapacity ? std::wstring(value.data(), length)
                                                : std::wstring(kMissing);
    };
    const std::wstring storedId = read(kSoundDeviceKey);
    if (storedId == kMissing) {
        return false;
    }
    id = storedId;
    name = read(kSoundDeviceNameKey);
    if (name == kMissing) {
        name.clear();
    }
    return true;
}

void WriteSoundDevice(const std::wstring& id, const std::wstring& name)
{
    WriteSetting(kSoundDeviceKey, id.c_str());
    WriteSetting(kSoundDeviceNameKey, name.c_str());
}

bool ReadPublishLsl()
{
    return ReadSwitch(kPublishLslKey);
}

void WritePublishLsl(bool on)
{
    WriteSetting(kPublishLslKey, on ? L"1" : L"0");
}
