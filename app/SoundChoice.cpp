#include "app/SoundChoice.h"

#include "app/Ids.h"
#include "settings/Settings.h"

namespace {

constexpr int kMaxListedDevices = IDM_SOUND_LAST - IDM_SOUND_FIRST + 1;

SoundDeviceLister g_lister = nullptr;
// The kept choice, and this run's --sound while `runChoiceSet`.
TakeSound g_keptSound;
TakeSound g_runSound;
bool g_runChoiceSet = false;
// The devices the submenu lists now, in the order of their commands; the last one is the kept
// device that is absent when `g_absentListed`.
std::vector<SoundDeviceInfo> g_listed;
bool g_absentListed = false;

std::vector<SoundDeviceInfo> Devices()
{
    return g_lister != nullptr ? g_lister() : ListSoundDevices();
}

// Lower case by the system's rules, so that any script's letters compare.
std::wstring Lowered(std::wstring text)
{
    if (!text.empty()) {
        ::CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    }
    return text;
}

TakeSound SoundOf(const SoundDeviceInfo& device)
{
    return TakeSound{device.id, device.name};
}

} // namespace

std::wstring SoundMenuLabel(const SoundDeviceInfo& device)
{
    return device.name + (device.isSensorArray ? L" (sensor)" : L"");
}

bool MatchSoundDevice(const std::vector<SoundDeviceInfo>& devices, const std::wstring& name,
                      SoundDeviceInfo& match, std::wstring& problem)
{
    const std::wstring wanted = Lowered(name);
    std::vector<const SoundDeviceInfo*> holding;
    for (const SoundDeviceInfo& device : devices) {
        const std::wstring lowered = Lowered(device.name);
        if (lowered == wanted) {
            match = device;
            return true;
        }
        if (!wanted.empty() && lowered.find(wanted) != std::wstring::npos) {
            holding.push_back(&device);
        }
    }
    if (holding.size() == 1) {
        match = *holding.front();
        return true;
    }
    std::wstring names;
    for (const SoundDeviceInfo& device : devices) {
        names += L"\n  " + device.name;
    }
    problem = (holding.empty() ? L"--sound names no sound device: "
                               : L"--sound fits several sound devices: ") +
              name +
              (devices.empty() ? L"\nThere is no sound device." : L"\nSound devices:" + names);
    return false;
}

bool ResolveSoundArgument(const std::wstring& name, TakeSound& sound, std::wstring& problem)
{
    if (Lowered(name) == L"none") {
        sound = TakeSound{};
        return true;
    }
    SoundDeviceInfo match;
    if (!MatchSoundDevice(Devices(), name, match, problem)) {
        return false;
    }
    sound = SoundOf(match);
    return true;
}

void LoadSoundChoice()
{
    if (ReadSoundDevice(g_keptSound.deviceId, g_keptSound.deviceName)) {
        return;
    }
    g_keptSound = TakeSound{};
    for (const SoundDeviceInfo& device : Devices()) {
        if (device.isSensorArray) {
            g_keptSound = SoundOf(device);
            return;
        }
    }
}

void FillSoundMenu(HMENU menu)
{
    while (::GetMenuItemCount(menu) > 0) {
        ::DeleteMenu(menu, 0, MF_BYPOSITION);
    }
    const TakeSound current = SoundForNextTake();
    g_listed.clear();
    bool currentListed = current.deviceId.empty();
    for (const SoundDeviceInfo& device : Devices()) {
        if (static_cast<int>(g_listed.size()) < kMaxListedDevices) {
            g_listed.push_back(device);
            currentListed = currentListed || device.id == current.deviceId;
        }
    }
    // Absent now: a take started meanwhile records without sound and says so.
    g_absentListed = !currentListed && static_cast<int>(g_listed.size()) < kMaxListedDevices;
    if (g_absentListed) {
        g_listed.push_back(SoundDeviceInfo{current.deviceId, current.deviceName, false});
    }
    ::AppendMenuW(menu, MF_STRING | (current.deviceId.empty() ? MF_CHECKED : 0), IDM_SOUND_NONE,
                  L"None");
    for (size_t i = 0; i < g_listed.size(); ++i) {
        const bool chosen = g_listed[i].id == current.deviceId;
        const bool absent = g_absentListed && i + 1 == g_listed.size();
        const std::wstring label = SoundMenuLabel(g_listed[i]) + (absent ? L" (absent)" : L"");
        ::AppendMenuW(menu, MF_STRING | (chosen ? MF_CHECKED : 0),
                      IDM_SOUND_FIRST + static_cast<UINT>(i), label.c_str());
    }
}

bool ChooseSoundFromMenu(int command)
{
    const int index = command - IDM_SOUND_FIRST;
    if (command != IDM_SOUND_NONE && (index < 0 || index >= static_cast<int>(g_listed.size()))) {
        return false;
    }
    g_keptSound = command == IDM_SOUND_NONE ? TakeSound{} : SoundOf(g_listed[index]);
    // The user's choice holds over this run's --sound from now on.
    g_runChoiceSet = false;
    WriteSoundDevice(g_keptSound.deviceId, g_keptSound.deviceName);
    return true;
}

TakeSound SoundForNextTake()
{
    return g_runChoiceSet ? g_runSound : g_keptSound;
}

void SetSoundForThisRun(const TakeSound& sound)
{
    g_runSound = sound;
    g_runChoiceSet = true;
}

void SetSoundDeviceLister(SoundDeviceLister lister)
{
    g_lister = lister;
}
