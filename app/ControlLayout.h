// Where the control window's controls and banner go, from its client width.
#pragma once

// The controls form a centred block this wide; the banner is stretched to this size.
constexpr int kControlBlockWidth = 260;
constexpr int kBannerWidth = 300;
constexpr int kBannerHeight = 110;
constexpr int kBannerTop = 160;

// Left edge of the control block: (W - 260) / 2, truncated toward zero (negative when the client
// area is narrower than the block).
inline int ControlBlockLeft(int clientWidth)
{
    return (clientWidth - kControlBlockWidth) / 2;
}

// Left edge of the banner: (W - 300) / 2, truncated toward zero.
inline int BannerLeft(int clientWidth)
{
    return (clientWidth - kBannerWidth) / 2;
}
