// The sound device that the next take records from: chosen in File > Record Sound From (kept
// in the settings) or for one run by --sound. Main thread only, except the pure matching.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/SoundDevices.h"
#include "recording/Recording.h"

// The menu's label of a device: its friendly name, " (sensor)" after the sensor's array.
std::wstring SoundMenuLabel(const SoundDeviceInfo& device);

// The device that `name` picks for --sound: the one whose friendly name it is, or else the one
// whose name holds it, case-insensitive. False with `problem` set when none or several do.
bool MatchSoundDevice(const std::vector<SoundDeviceInfo>& devices, const std::wstring& name,
                      SoundDeviceInfo& match, std::wstring& problem);

// Resolves --sound's `name` ("none" or a device's name) against the devices present now; false
// with `problem` set when it names no device or several.
bool ResolveSoundArgument(const std::wstring& name, TakeSound& sound, std::wstring& problem);

// Reads the kept choice; when the settings have none yet, the sensor's array if one is present,
// else none (not stored until the user chooses).
void LoadSoundChoice();

// Fills the Record Sound From submenu `menu` with None and the devices present now, the current
// choice checked. A kept device that is absent is listed too, so it can still be seen chosen.
void FillSoundMenu(HMENU menu);

// A command of the submenu: chooses None or the listed device and stores the choice. False for
// any other command.
bool ChooseSoundFromMenu(int command);

// The sound for the next take: this run's --sound when it was given, else the kept choice.
TakeSound SoundForNextTake();

// From now on, for this run, takes record `sound` (--sound); not stored.
void SetSoundForThisRun(const TakeSound& sound);

// Test seam: replaces the device list (nullptr restores ListSoundDevices).
using SoundDeviceLister = std::vector<SoundDeviceInfo> (*)();
void SetSoundDeviceLister(SoundDeviceLister lister);
