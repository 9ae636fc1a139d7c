// The settings store: where settings.ini lives and the values it keeps, LastPath and
// SaveSkeletonData.
#pragma once

#include <string>

// Full path of settings.ini in the NimbraVIZ folder of the user's roaming application-data
// folder. Tries to create that folder on every call (result ignored). Empty when the
// application-data folder can't be determined: there is then no settings file.
std::wstring GetSettingsIniPath();

// The stored LastPath, at most its first 259 characters; "output.mp4" when the file, the
// section or the key is missing or there is no settings file. A stored empty value is empty.
std::wstring ReadLastPath();

// Stores `value` as LastPath. A settings file that does not exist yet is made as UTF-16 so any
// path comes back exactly; an existing file keeps its encoding. Silently lost when the file
// can't be written or there is no settings file.
void WriteLastPath(const std::wstring& value);

// Whether the Save Skeleton Data switch is on: the stored SaveSkeletonData is exactly "1".
// Missing, any other value, or no settings file means off.
bool ReadSaveSkeletonData();

// Stores the switch as SaveSkeletonData "1" or "0", in the file and the encoding WriteLastPath
// uses. Silently lost when the file can't be written or there is no settings file.
void WriteSaveSkeletonData(bool on);

// Whether the Save Depth switch is on: the stored SaveDepth is exactly "1"; off otherwise.
bool ReadSaveDepth();

// Stores the Save Depth switch as SaveDepth "1" or "0", as WriteSaveSkeletonData does.
void WriteSaveDepth(bool on);

// The kept sound device: its endpoint id (empty for none) and its name for messages. False,
// both empty, when no choice was ever stored (a first run) or there is no settings file.
bool ReadSoundDevice(std::wstring& id, std::wstring& name);

// Stores the sound device as SoundDevice (the endpoint id, empty for none) and SoundDeviceName,
// as WriteSaveSkeletonData does.
void WriteSoundDevice(const std::wstring& id, const std::wstring& name);
// Whether Publish to Lab Streaming Layer is on: the stored PublishLsl is exactly "1".
bool ReadPublishLsl();

// Stores it as PublishLsl "1" or "0", as WriteSaveSkeletonData does.
void WritePublishLsl(bool on);
