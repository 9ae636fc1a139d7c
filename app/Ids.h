// Control, command and private message identifiers of the control window.
#pragma once

#include <windows.h>

constexpr int IDC_SHOW_COLOR = 1;
constexpr int IDC_START = 2;
constexpr int IDC_STOP = 3;
constexpr int IDC_SAVE_PATH = 4;
constexpr int IDC_PATH_EDIT = 0;
constexpr int IDC_STATUS = 5;
constexpr int IDM_QUIT = 101;
constexpr int IDM_ABOUT = 102;
constexpr int IDM_SAVE_SKELETON = 103;
constexpr int IDM_OPEN_FOLDER = 104;
constexpr int IDM_SAVE_DEPTH = 105;
// File > Record Sound From: None, then the devices present when the submenu opened.
constexpr int IDM_SOUND_NONE = 110;
constexpr int IDM_SOUND_FIRST = 111;
constexpr int IDM_SOUND_LAST = 149;
constexpr int IDM_PUBLISH_LSL = 106;

// Posted by a take's writer thread to the control window when its encoder fails; wParam is the
// take's id, lParam the EncoderFault (gone or stalled).
constexpr UINT WM_APP_ENCODER_FAULT = WM_APP + 1;
// Posted when a take's files have their names; lParam is a FinishedTake* that the control
// window deletes.
constexpr UINT WM_APP_TAKE_FINISHED = WM_APP + 2;
// Posted once the windows are up when the command line asks for a take (ScriptedTake.h).
constexpr UINT WM_APP_SCRIPT_REQUEST = WM_APP + 3;

// Posted by the free-space reading thread after each reading of a disk (FreeSpaceWatch).
constexpr UINT WM_APP_FREE_SPACE = WM_APP + 30;

// The control window's timers: the take's disk watch, once a second, and the status line's
// update, twice a second; the frame limit of a scripted take, many times a frame.
constexpr UINT_PTR IDT_DISK_WATCH = 1;
constexpr UINT_PTR IDT_STATUS = 2;
constexpr UINT_PTR IDT_FRAME_LIMIT = 3;

// Posted from the sensor runtime's thread for each change of a sensor (SensorControl.h).
constexpr UINT WM_APP_SENSOR_STATUS = WM_APP + 20;
// Another try to start a sensor that was reported connected but did not start.
constexpr UINT_PTR IDT_SENSOR_START = 20;
// Half a second after the path box last changed: its disk is read.
constexpr UINT_PTR IDT_PATH_SETTLED = 30;
