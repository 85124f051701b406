#pragma once
// How the loader's main view shows each of its display states on the
// start/stop button and the status lamp.

#include <cstdint>

namespace kelvload {

// Colours as 0x00BBGGRR.
inline constexpr std::uint32_t ColorGreen = 0x00FF00;
inline constexpr std::uint32_t ColorYellow = 0x00FFFF;
inline constexpr std::uint32_t ColorGrey = 0x808080;
inline constexpr std::uint32_t ColorBlack = 0x000000;

enum class ButtonEnable { Enable, Disable, Unchanged };

struct StateLook {
    std::uint32_t buttonFace; // the button's text is always black
    const char* buttonCaption;
    ButtonEnable buttonEnable;
    int textId;        // string table entry of the state text
    bool showProgress; // lamp position from the progress, else 0
    std::uint32_t lampColor;
};

// The look of display state 0 to 4 (Ready, no file, port failed,
// programming, failed); any other value looks like "no file".
const StateLook& LookOfState(int state);

} // namespace kelvload
