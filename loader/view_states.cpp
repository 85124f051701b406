#include "loader/view_states.h"

#include "loader/kelvload_ids.h"

#include <iterator>

namespace kelvload {

namespace {

constexpr const char* kStart = "Start (Spacebar)";
constexpr const char* kStop = "Stop (Spacebar)";

constexpr StateLook kLooks[] = {
    {ColorGreen, kStart, ButtonEnable::Enable, IdsReady, false, ColorGreen},
    {ColorGrey, kStart, ButtonEnable::Disable, IdsNoFile, false, ColorBlack},
    {ColorGreen, kStart, ButtonEnable::Enable, IdsPortFailed, false, ColorGrey},
    {ColorYellow, kStop, ButtonEnable::Unchanged, IdsProgramming, true, ColorYellow},
    {ColorGreen, kStart, ButtonEnable::Enable, IdsFailed, false, ColorYellow},
};

constexpr int kNoFileState = 1;

} // namespace

const StateLook& LookOfState(int state) {
    if (state < 0 || state >= static_cast<int>(std::size(kLooks))) {
        return kLooks[kNoFileState];
    }
    return kLooks[state];
}

} // namespace kelvload
