#include "loader/view_states.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace kelvload;

struct ExpectedLook {
    std::uint32_t face;
    std::string caption;
    ButtonEnable enable;
    int textId;
    bool progress;
    std::uint32_t lamp;
};

void ExpectLook(int state, const ExpectedLook& expected) {
    const StateLook& look = LookOfState(state);
    EXPECT_EQ(look.buttonFace, expected.face) << "state " << state;
    EXPECT_EQ(std::string(look.buttonCaption), expected.caption) << "state " << state;
    EXPECT_EQ(look.buttonEnable, expected.enable) << "state " << state;
    EXPECT_EQ(look.textId, expected.textId) << "state " << state;
    EXPECT_EQ(look.showProgress, expected.progress) << "state " << state;
    EXPECT_EQ(look.lampColor, expected.lamp) << "state " << state;
}

TEST(ViewStates, EachStateHasItsButtonAndLamp) {
    ExpectLook(0, {0x00FF00, "Start (Spacebar)", ButtonEnable::Enable, 61205, false, 0x00FF00});
    ExpectLook(1, {0x808080, "Start (Spacebar)", ButtonEnable::Disable, 61207, false, 0x000000});
    ExpectLook(2, {0x00FF00, "Start (Spacebar)", ButtonEnable::Enable, 61206, false, 0x808080});
    ExpectLook(3, {0x00FFFF, "Stop (Spacebar)", ButtonEnable::Unchanged, 61208, true, 0x00FFFF});
    ExpectLook(4, {0x00FF00, "Start (Spacebar)", ButtonEnable::Enable, 61209, false, 0x00FFFF});
}

TEST(ViewStates, AnUnknownStateLooksLikeNoFile) {
    for (int state : {-1, 5, 99, ~3}) {
        EXPECT_EQ(&LookOfState(state), &LookOfState(1)) << state;
    }
}

} // namespace
