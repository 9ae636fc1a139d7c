#include "app/SensorEvents.h"

#include "app/Ids.h"
#include "app/StatusLineControl.h"
#include "recording/LabStreams.h"
#include "recording/Recording.h"
#include "sensor/SensorControl.h"

namespace {

// A connected sensor that did not start is tried again this often, this many times: it may
// still be busy with its own start, or held by another program for a moment.
constexpr UINT kStartRetryMs = 500;
constexpr int kStartRetries = 6;
int g_startRetriesLeft = 0;

// The one place that reacts to a change: what the window shows, and whatever else must know.
void OnSensorChange(HWND hwnd, SensorChange change)
{
    switch (change) {
    case SensorChange::Started:
        ::KillTimer(hwnd, IDT_SENSOR_START);
        PublishMarker(L"sensor connected");
        break;
    case SensorChange::StartFailed:
        if (g_startRetriesLeft-- > 0) {
            ::SetTimer(hwnd, IDT_SENSOR_START, kStartRetryMs, nullptr);
        } else {
            ::KillTimer(hwnd, IDT_SENSOR_START);
        }
        break;
    case SensorChange::Lost:
        ::KillTimer(hwnd, IDT_SENSOR_START);
        PublishMarker(L"sensor disconnected");
        // Idle, the line says so rather than keep the last take's text; a take's line warns,
        // and a take being saved gets to say how it was saved first.
        if (!IsRecording() && !IsFinishingTake()) {
            ShowIdleStatus();
        }
        break;
    case SensorChange::None:
        break;
    }
}

} // namespace

void OnSensorStatus(HWND hwnd, WPARAM wParam, LPARAM lParam)
{
    g_startRetriesLeft = kStartRetries;
    OnSensorChange(hwnd, TakeSensorStatus(wParam, lParam));
}

void OnSensorStartTimer(HWND hwnd)
{
    ::KillTimer(hwnd, IDT_SENSOR_START);
    OnSensorChange(hwnd, RetrySensorStart());
}
