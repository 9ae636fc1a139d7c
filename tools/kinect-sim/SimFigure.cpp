#include "tools/kinect-sim/SimFigure.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// One joint of the standing figure, relative to the hip centre, in metres; dz is towards
// (negative) or away from (positive) the sensor.
struct JointOffset {
    float x;
    float y;
    float dz;
};

// Joints in the runtime's order. Left joints sit at negative x, the right ones mirror them.
constexpr JointOffset kStandingFigure[NUI_SKELETON_POSITION_COUNT] = {
    {0.00f, 0.00f, 0.00f},    // 0 hip centre
    {0.00f, 0.08f, 0.01f},    // 1 spine
    {0.00f, 0.50f, 0.00f},    // 2 shoulder centre
    {0.00f, 0.68f, 0.00f},    // 3 head
    {-0.18f, 0.45f, 0.02f},   // 4 left shoulder
    {-0.25f, 0.20f, 0.03f},   // 5 left elbow
    {-0.28f, -0.02f, 0.00f},  // 6 left wrist
    {-0.29f, -0.09f, -0.02f}, // 7 left hand
    {0.18f, 0.45f, 0.02f},    // 8 right shoulder
    {0.25f, 0.20f, 0.03f},    // 9 right elbow
    {0.28f, -0.02f, 0.00f},   // 10 right wrist
    {0.29f, -0.09f, -0.02f},  // 11 right hand
    {-0.09f, -0.04f, 0.00f},  // 12 left hip
    {-0.10f, -0.47f, 0.00f},  // 13 left knee
    {-0.10f, -0.86f, 0.03f},  // 14 left ankle
    {-0.11f, -0.92f, -0.06f}, // 15 left foot
    {0.09f, -0.04f, 0.00f},   // 16 right hip
    {0.10f, -0.47f, 0.00f},   // 17 right knee
    {0.10f, -0.86f, 0.03f},   // 18 right ankle
    {0.11f, -0.92f, -0.06f},  // 19 right foot
};

constexpr int kLeftShoulder = 4;
constexpr int kRightShoulder = 8;
constexpr int kLeftHand = 7;
constexpr int kRightFoot = 19;
// Joint tracking states of the runtime.
constexpr int kJointInferred = 1;
constexpr int kJointTracked = 2;
constexpr double kPi = 3.14159265358979323846;
constexpr double kHipHeight = -0.05;
constexpr double kFloorDistance = 1.0;

// Where record r stands: left to right across the picture, at varying distance and size, so a
// program that mixes up records draws visibly wrong figures.
double RecordCentreX(int record)
{
    return -0.9 + 0.36 * record;
}
double RecordDistance(int record)
{
    // Symmetric, so the outer figures' raised arms keep clear of both edges.
    constexpr double kDistance[NUI_SKELETON_COUNT] = {2.9, 2.7, 2.8, 2.8, 2.7, 2.9};
    return kDistance[record];
}
double RecordScale(int record)
{
    return 0.94 + 0.02 * record;
}

// Offset of one joint from the hip centre: the standing figure's, with the arm joints turned
// outwards about their shoulder by `lift` radians.
JointOffset MovedJoint(int joint, double lift)
{
    JointOffset offset = kStandingFigure[joint];
    int shoulder = -1;
    double angle = 0.0;
    if (joint >= 5 && joint <= 7) {
        shoulder = kLeftShoulder;
        angle = -lift;
    } else if (joint >= 9 && joint <= 11) {
        shoulder = kRightShoulder;
        angle = lift;
    }
    if (shoulder >= 0 && lift != 0.0) {
        const JointOffset& pivot = kStandingFigure[shoulder];
        const double dx = offset.x - pivot.x;
        const double dy = offset.y - pivot.y;
        offset.x = static_cast<float>(pivot.x + dx * std::cos(angle) - dy * std::sin(angle));
        offset.y = static_cast<float>(pivot.y + dx * std::sin(angle) + dy * std::cos(angle));
    }
    return offset;
}

// State of a tracked record's joint: the hand and the foot now and then only inferred, in a
// pattern that tests can tell from the frame number, so a row carrying another frame's states
// shows.
int TrackedJointState(int joint, int record, LONGLONG frameNumber, bool moving)
{
    const bool inferred = moving && ((joint == kLeftHand && frameNumber % 2 == 1) ||
                                     (joint == kRightFoot && (frameNumber + record) % 3 == 0));
    return inferred ? kJointInferred : kJointTracked;
}

void FillRecord(NUI_SKELETON_DATA* data, int record, LONGLONG frameNumber, bool tracked,
                bool moving)
{
    const double seconds = static_cast<double>(frameNumber) / 30.0;
    const double phase = record * 1.1;
    const double sway = moving ? 0.04 * std::sin(2.0 * kPi * 0.25 * seconds + phase) : 0.0;
    const double bob = moving ? 0.05 * std::sin(2.0 * kPi * 0.15 * seconds + phase) : 0.0;
    const double lift = moving ? 0.25 * (1.0 - std::cos(2.0 * kPi * 0.4 * seconds + phase)) : 0.0;

    const double centreX = RecordCentreX(record) + sway;
    const double distance = RecordDistance(record) + bob;
    const double scale = RecordScale(record);

    data->eTrackingState = tracked ? NUI_SKELETON_TRACKED : NUI_SKELETON_NOT_TRACKED;
    data->dwTrackingID = tracked ? static_cast<DWORD>(record + 1) : 0;
    for (int j = 0; j < NUI_SKELETON_POSITION_COUNT; ++j) {
        const JointOffset offset = MovedJoint(j, lift);
        Vector4& joint = data->SkeletonPositions[j];
        joint.x = static_cast<float>(centreX + scale * offset.x);
        joint.y = static_cast<float>(kHipHeight + scale * offset.y);
        joint.z = static_cast<float>(distance + offset.dz);
        joint.w = 1.0f;
        data->eSkeletonPositionTrackingState[j] =
            tracked ? TrackedJointState(j, record, frameNumber, moving) : 0;
    }
    data->Position = data->SkeletonPositions[0];
}

} // namespace

void SimFillSkeletonFrame(NUI_SKELETON_FRAME* frame, LONGLONG frameNumber, unsigned trackedMask,
                          bool moving)
{
    std::memset(frame, 0, sizeof(*frame));
    frame->dwFrameNumber = static_cast<DWORD>(frameNumber);
    frame->liTimeStamp.QuadPart = frameNumber * 100 / 3;
    frame->vFloorClipPlane = Vector4{0.0f, 1.0f, 0.0f, static_cast<float>(kFloorDistance)};
    frame->vNormalToGravity = Vector4{0.0f, 1.0f, 0.0f, 0.0f};
    for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
        FillRecord(&frame->SkeletonData[r], r, frameNumber, ((trackedMask >> r) & 1u) != 0, moving);
    }
}

bool SimParseTrackedList(const wchar_t* text, unsigned* mask)
{
    *mask = 0;
    const std::wstring list(text);
    if (list.empty() || list == L"none") {
        return true;
    }
    bool allValid = true;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(L',', start);
        if (end == std::wstring::npos) {
            end = list.size();
        }
        std::wstring entry = list.substr(start, end - start);
        const size_t first = entry.find_first_not_of(L" \t");
        const size_t last = entry.find_last_not_of(L" \t");
        entry =
            first == std::wstring::npos ? std::wstring() : entry.substr(first, last - first + 1);
        if (entry.size() == 1 && entry[0] >= L'0' && entry[0] < L'0' + NUI_SKELETON_COUNT) {
            *mask |= 1u << (entry[0] - L'0');
        } else {
            allValid = false;
        }
        start = end + 1;
    }
    return allValid;
}

void SimAppendSkeletonLog(std::string& text, const NUI_SKELETON_FRAME& frame)
{
    char field[64];
    std::snprintf(field, sizeof(field), "frame %lu %lld\n",
                  static_cast<unsigned long>(frame.dwFrameNumber),
                  static_cast<long long>(frame.liTimeStamp.QuadPart));
    text += field;
    for (int r = 0; r < NUI_SKELETON_COUNT; ++r) {
        const NUI_SKELETON_DATA& data = frame.SkeletonData[r];
        std::snprintf(field, sizeof(field), "record %d %d %lu", r, data.eTrackingState,
                      static_cast<unsigned long>(data.dwTrackingID));
        text += field;
        for (int j = 0; j < NUI_SKELETON_POSITION_COUNT; ++j) {
            const Vector4& joint = data.SkeletonPositions[j];
            std::snprintf(field, sizeof(field), " %.9g %.9g %.9g %d", static_cast<double>(joint.x),
                          static_cast<double>(joint.y), static_cast<double>(joint.z),
                          data.eSkeletonPositionTrackingState[j]);
            text += field;
        }
        text += '\n';
    }
}
