#include "CVSPDataBasic.h"

#include <gtest/gtest.h>

namespace {

TEST(SerialSettingsText, FollowsWhatTheApplicationOpenedThePortWith) {
    struct Case {
        bool opened;
        int strict, baud, parity, dataBits, stopBits, flow;
        const char* expected;
    };
    const Case cases[] = {
        {false, 1, 9600, 0, 8, 0, 0, ""},
        {true, 1, 9600, 0, 8, 0, 0, "[E]9600:NONE:8:1:NONE"},
        {true, 0, 115200, 2, 7, 2, 0x80, "115200:EVEN:7:2:RTSCTS"},
        {true, 0, 300, 1, 5, 1, 0x83, "300:ODD:5:1.5:XONOFF"},
        {true, 0, 4800, 3, 8, 0, 0x02, "4800:MARK:8:1:XONOFF"},
        {true, 0, 4800, 4, 6, 0, 0x01, "4800:SPACE:6:1:XONOFF"},
        {true, 0, 2400, 5, 8, 3, 0x40, "2400:8:NONE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SerialSettingsText(c.opened, c.strict, c.baud, c.parity, c.dataBits, c.stopBits, c.flow),
                  c.expected);
}

} // namespace
