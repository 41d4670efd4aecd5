#include "CTelComEngine.h"
#include "CVSPDataBasic.h"
#include "CVSPLog.h"
#include "TelcomDoubles.h"
#include "VsportDouble.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// "41 FF 42" -> {0x41, 0xFF, 0x42}
std::vector<unsigned char> Bytes(const std::string& hex) {
    std::vector<unsigned char> bytes;
    std::istringstream in(hex);
    std::string pair;
    while (in >> pair)
        bytes.push_back(static_cast<unsigned char>(std::stoi(pair, nullptr, 16)));
    return bytes;
}

std::string Repeat(const std::string& hexByte, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += hexByte + " ";
    return text;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "telcom-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

class TelComEngineTest : public ::testing::Test {
protected:
    TelComEngineTest() {
        port.PortName = "COM9";
        port.VspState = VSP_OPENED;
        port.LogData = 1;
        portLog.OpenDataLog(port.PortName);
        engine.SetControl(&vsport);
    }

    int Feed(const std::string& hex) {
        const std::vector<unsigned char> bytes = Bytes(hex);
        return engine.ProcessReceived(bytes.data(), static_cast<int>(bytes.size()));
    }

    std::string DataLog() const {
        std::ifstream file(portLog.DataLogPath(), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    TempFolder folder;
    CVSPDataBasic port;
    VsportDouble vsport;
    RecordingLink plainLink;
    RecordingLink tlsLink;
    CVSPLog programLog{folder.path};
    CVSPLog portLog{folder.path};
    CTelComEngine engine{port, plainLink, tlsLink, programLog, portLog};
};

// --- what the peer sends, what reaches the application, what is answered ---

struct ReceiveCase {
    const char* name;
    std::string input;
    std::string delivered;
    std::string answered;
};

void PrintTo(const ReceiveCase& c, std::ostream* out) {
    *out << c.name;
}

class ReceiveScript : public TelComEngineTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveScript, WholeBlock) {
    const ReceiveCase& c = GetParam();
    EXPECT_EQ(Feed(c.input), static_cast<int>(Bytes(c.input).size()));
    EXPECT_EQ(vsport.delivered, Bytes(c.delivered));
    EXPECT_EQ(plainLink.sent, Bytes(c.answered));
}

// The parse state must carry from one block to the next: the network may split anywhere.
TEST_P(ReceiveScript, OneByteAtATime) {
    const ReceiveCase& c = GetParam();
    for (unsigned char byte : Bytes(c.input))
        ASSERT_EQ(engine.ProcessReceived(&byte, 1), 1);
    EXPECT_EQ(vsport.delivered, Bytes(c.delivered));
    EXPECT_EQ(plainLink.sent, Bytes(c.answered));
}

const std::string TERMINAL_TYPE_DUMP = "FF FA 18 00 44 55 4D 50 00 FF F0";

INSTANTIATE_TEST_SUITE_P(
    TelComEngine, ReceiveScript,
    ::testing::Values(ReceiveCase{"DoubledIacIsOneDataByte", "41 FF FF 42", "41 FF 42", ""},
                      ReceiveCase{"NopKeepsTheNextByte", "FF F1 41", "41", ""},
                      ReceiveCase{"GoAheadAndStraySeKeepTheNextByte", "FF F9 42 FF F0 43", "42 43", ""},
                      ReceiveCase{"WillSgaAnsweredOnce", "FF FB 03 FF FB 03", "", "FF FD 03"},
                      ReceiveCase{"SgaFlagSharedByWillAndDo", "FF FB 03 FF FD 03", "", "FF FD 03"},
                      ReceiveCase{"DoSgaAnsweredOnce", "FF FD 03 FF FD 03 FF FB 03", "", "FF FB 03"},
                      ReceiveCase{"WillEchoAnsweredOnce", "FF FB 01 FF FB 01", "", "FF FD 01"},
                      ReceiveCase{"DoEchoRefusedEveryTime", "FF FD 01 FF FD 01", "", "FF FC 01 FF FC 01"},
                      ReceiveCase{"DoEchoAlsoAnswersWillEcho", "FF FD 01 FF FB 01", "", "FF FC 01"},
                      ReceiveCase{"DoTerminalTypeAcceptedEveryTime", "FF FD 18 FF FD 18", "",
                                  "FF FB 18 FF FB 18"},
                      ReceiveCase{"TerminalTypeSendAnsweredWithDump", "FF FD 18 FF FA 18 01 FF F0", "",
                                  "FF FB 18 " + TERMINAL_TYPE_DUMP},
                      ReceiveCase{"TerminalTypeIsNotAnswered", "FF FA 18 00 41 FF F0", "", ""},
                      ReceiveCase{"ComPortOptionNeverAnswered", "FF FB 2C FF FD 2C", "", ""},
                      ReceiveCase{"OtherOptionsRefused", "FF FB 05 FF FD 05", "", "FF FE 05 FF FC 05"},
                      ReceiveCase{"WontAndDontNotAnswered", "FF FC 05 FF FE 05 FF FC 01 FF FE 03", "", ""},
                      ReceiveCase{"NegotiationBetweenData", "41 FF FD 05 42", "41 42", "FF FC 05"},
                      ReceiveCase{"IacAndOtherByteInSubnegotiationDropsIt", "FF FA 18 01 FF 41 42", "42", ""},
                      ReceiveCase{"SubnegotiationOfFullLengthHandled",
                                  "FF FA 18 01 " + Repeat("00", 30) + "FF F0", "", TERMINAL_TYPE_DUMP},
                      ReceiveCase{"OverlongSubnegotiationDiscardedToItsEnd",
                                  "FF FA 18 01 " + Repeat("41", 31) + "FF F0 44", "44", ""},
                      ReceiveCase{"OverlongSubnegotiationWithEscapedIac",
                                  "FF FA 05 " + Repeat("41", 40) + "FF FF 41 FF F0 FF FF 45", "FF 45", ""}),
    [](const ::testing::TestParamInfo<ReceiveCase>& info) { return std::string(info.param.name); });

// --- receive flow control and refused writes ---

struct FlowCase {
    const char* name;
    int handshake;
    int flowReplace;
    int dtr;
    int rts;
    std::string input;
    int consumed;
    std::string delivered;
};

void PrintTo(const FlowCase& c, std::ostream* out) {
    *out << c.name;
}

class ReceiveFlow : public TelComEngineTest, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(ReceiveFlow, StopsBeforeTheHeldByte) {
    const FlowCase& c = GetParam();
    vsport.handshake = c.handshake;
    vsport.flowReplace = c.flowReplace;
    vsport.dtr = c.dtr;
    vsport.rts = c.rts;
    EXPECT_EQ(Feed(c.input), c.consumed);
    EXPECT_EQ(vsport.delivered, Bytes(c.delivered));
}

INSTANTIATE_TEST_SUITE_P(
    TelComEngine, ReceiveFlow,
    ::testing::Values(FlowCase{"DtrHandshakeWithDtrOff", 0x02, 0, 0, 1, "41 42", 0, ""},
                      FlowCase{"DtrHandshakeWithDtrOn", 0x02, 0, 1, 1, "41 42", 2, "41 42"},
                      FlowCase{"RtsHandshakeWithRtsOff", 0, 0x80, 1, 0, "41 42", 0, ""},
                      FlowCase{"RtsHandshakeWithRtsOn", 0, 0x80, 1, 1, "41 42", 2, "41 42"},
                      FlowCase{"LinesOffWithoutHandshake", 0x08, 0x03, 0, 0, "41 42", 2, "41 42"},
                      FlowCase{"LeadingIacTakenThenHeld", 0x02, 0, 0, 1, "FF FD 05 41", 1, ""}),
    [](const ::testing::TestParamInfo<FlowCase>& info) { return std::string(info.param.name); });

TEST_F(TelComEngineTest, HeldInputResumesWhereItStopped) {
    vsport.handshake = 0x02;
    vsport.dtr = 0;
    ASSERT_EQ(Feed("FF FD 05 41"), 1);
    EXPECT_TRUE(plainLink.sent.empty());
    vsport.dtr = 1;
    EXPECT_EQ(Feed("FD 05 41"), 3);
    EXPECT_EQ(plainLink.sent, Bytes("FF FC 05"));
    EXPECT_EQ(vsport.delivered, Bytes("41"));
}

// A refused escaped 0xFF must stay escaped: offered again, it is data, not the start of a command.
TEST_F(TelComEngineTest, RefusedWriteLeavesTheRestUnconsumed) {
    vsport.bytesAccepted = 1;
    ASSERT_EQ(Feed("41 FF FF 42 43"), 2);
    vsport.bytesAccepted = 2;
    ASSERT_EQ(Feed("FF 42 43"), 1);
    vsport.bytesAccepted = 100;
    ASSERT_EQ(Feed("42 43"), 2);
    EXPECT_EQ(vsport.delivered, Bytes("41 FF 42 43"));
    EXPECT_TRUE(plainLink.sent.empty());
    EXPECT_EQ(port.NetRecvBytes, 4);
    EXPECT_EQ(port.VspWrittenBytes, 4);
}

TEST_F(TelComEngineTest, DeliveredBytesAreCountedAndDumpedOneByOne) {
    ASSERT_EQ(Feed("41 FF FF 42"), 4);
    EXPECT_EQ(port.NetRecvBytes, 3);
    EXPECT_EQ(port.VspWrittenBytes, 3);
    EXPECT_EQ(CountOf(DataLog(), "[TCP->VSP : 1]\r\n"), 3);
}

// Nobody to deliver to: data is dropped and traced, flow control does not hold, commands are still answered.
TEST_F(TelComEngineTest, ClosedPortDropsDataButAnswers) {
    port.VspState = VSP_CLOSED;
    vsport.handshake = 0x02;
    vsport.dtr = 0;
    EXPECT_EQ(Feed("41 FF FF FF FD 05 42"), 7);
    EXPECT_TRUE(vsport.delivered.empty());
    EXPECT_EQ(plainLink.sent, Bytes("FF FC 05"));
    EXPECT_EQ(port.NetRecvBytes, 0);
    EXPECT_EQ(CountOf(DataLog(), "[TCP->VSP : 1(DROPPED)]\r\n"), 3);
}

TEST_F(TelComEngineTest, WithoutVirtualPortDataIsDropped) {
    engine.SetControl(nullptr);
    EXPECT_EQ(Feed("41 FF FA 2C 07 C0 FF F0 42"), 9);
    EXPECT_EQ(port.NetRecvBytes, 0);
    EXPECT_EQ(port.DsrState, 1);
    EXPECT_EQ(CountOf(DataLog(), "(DROPPED)"), 2);
}

TEST_F(TelComEngineTest, EmptyInputConsumesNothing) {
    EXPECT_EQ(engine.ProcessReceived(nullptr, 0), 0);
    const unsigned char byte = 0x41;
    EXPECT_EQ(engine.ProcessReceived(&byte, 0), 0);
    EXPECT_TRUE(vsport.delivered.empty());
}

// Garbage rich in IAC, SB and SE, split anywhere, against a port that refuses bytes now and then: every
// call consumes a count within its input, and offering the rest again always gets through.
TEST_F(TelComEngineTest, ArbitraryInputIsAlwaysConsumed) {
    port.LogData = 0;
    std::mt19937 random(2217);
    const unsigned char tokens[] = {0xFF, 0xFA, 0xF0, 0x2C, 0x18, 0x07, 0xFB, 0xFD, 0x41, 0x00};
    std::vector<unsigned char> input(1 << 16);
    for (unsigned char& byte : input)
        byte = random() % 3 ? tokens[random() % sizeof tokens] : static_cast<unsigned char>(random());
    size_t offset = 0;
    while (offset < input.size()) {
        vsport.bytesAccepted = static_cast<int>(vsport.delivered.size() + random() % 4);
        const int length = static_cast<int>(std::min<size_t>(1 + random() % 64, input.size() - offset));
        const int consumed = engine.ProcessReceived(input.data() + offset, length);
        ASSERT_GE(consumed, 0);
        ASSERT_LE(consumed, length);
        offset += consumed;
    }
    EXPECT_EQ(port.VspWrittenBytes, static_cast<int>(vsport.delivered.size()));
}

// --- modem state from the peer ---

struct ModemCase {
    const char* name;
    std::string input;
    int ring, dsr, cts, dcd;
};

void PrintTo(const ModemCase& c, std::ostream* out) {
    *out << c.name;
}

class ModemState : public TelComEngineTest, public ::testing::WithParamInterface<ModemCase> {};

TEST_P(ModemState, AppliedToRecordAndOpenPort) {
    const ModemCase& c = GetParam();
    ASSERT_EQ(Feed(c.input), static_cast<int>(Bytes(c.input).size()));
    EXPECT_EQ(port.DsrState, c.dsr);
    EXPECT_EQ(port.CtsState, c.cts);
    EXPECT_EQ(port.DcdState, c.dcd);
    const LineSets expected{{"RING", c.ring}, {"DSR", c.dsr}, {"CTS", c.cts}, {"DCD", c.dcd}};
    EXPECT_EQ(vsport.lineSets, expected);
}

INSTANTIATE_TEST_SUITE_P(
    TelComEngine, ModemState,
    ::testing::Values(ModemCase{"ClearBitsAreOn", "FF FA 2C 07 00 FF F0", 1, 1, 1, 1},
                      ModemCase{"DsrAndCtsOffRingAndDcdOn", "FF FA 2C 6B 30 FF F0", 1, 0, 0, 1},
                      ModemCase{"RingBitSetIsRingOff", "FF FA 2C 07 40 FF F0", 0, 1, 1, 1},
                      ModemCase{"CarrierBitSetIsCarrierOff", "FF FA 2C 07 80 FF F0", 1, 1, 1, 0},
                      ModemCase{"DeltaBitsIgnored", "FF FA 2C 07 0F FF F0", 1, 1, 1, 1},
                      ModemCase{"EscapedAllBitsSetAllOff", "FF FA 2C 07 FF FF FF F0", 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<ModemCase>& info) { return std::string(info.param.name); });

TEST_F(TelComEngineTest, ModemStateLoggedWithResultCodes) {
    vsport.setResult = 7;
    Feed("FF FA 2C 07 50 FF F0");
    const std::string log = DataLog();
    EXPECT_NE(log.find("[TELCOM] TCP -> VSP SetRING(FALSE) [7]\r\n"), std::string::npos);
    EXPECT_NE(log.find("[TELCOM] TCP -> VSP SetDSR(TRUE) [7]\r\n"), std::string::npos);
    EXPECT_NE(log.find("[TELCOM] TCP -> VSP SetCTS(FALSE) [7]\r\n"), std::string::npos);
    EXPECT_NE(log.find("[TELCOM] TCP -> VSP SetDCD(TRUE) [7]\r\n"), std::string::npos);
}

TEST_F(TelComEngineTest, ModemStateOfClosedPortKeptInRecordOnly) {
    vsport.opened = 0;
    Feed("FF FA 2C 07 C0 FF F0");
    Feed("FF FA 2C 07 30 FF F0");
    EXPECT_TRUE(vsport.lineSets.empty());
    EXPECT_EQ(port.DsrState, 0);
    EXPECT_EQ(port.CtsState, 0);
    EXPECT_EQ(port.DcdState, 1);
    const std::string log = DataLog();
    for (const char* text : {"[TELCOM] TCP -> VSP SetRING(TRUE) : VSP IS CLOSED.\r\n",
                             "[TELCOM] TCP -> VSP SetDSR(FALSE) : VSP IS CLOSED. \r\n",
                             "[TELCOM] TCP -> VSP SetCTS(FALSE) : VSP IS CLOSED. \r\n",
                             "[TELCOM] TCP -> VSP SetDCD(TRUE) : VSP IS CLOSED. \r\n",
                             "[TELCOM] TCP -> VSP SetRING(FALSE) : VSP IS CLOSED. \r\n",
                             "[TELCOM] TCP -> VSP SetDSR(TRUE) : VSP IS CLOSED. \r\n",
                             "[TELCOM] TCP -> VSP SetCTS(TRUE) : VSP IS CLOSED. \r\n",
                             "[TELCOM] TCP -> VSP SetDCD(FALSE) : VSP IS CLOSED. \r\n"})
        EXPECT_EQ(CountOf(log, text), 1) << text;
}

TEST_F(TelComEngineTest, ModemStateWithoutValueChangesNothing) {
    port.DsrState = 1;
    Feed("FF FA 2C 07 FF F0");
    EXPECT_EQ(port.DsrState, 1);
    EXPECT_TRUE(vsport.lineSets.empty());
}

// --- data log texts of the peer's answers and of negotiation ---

struct LogCase {
    const char* name;
    std::string input;
    std::string text;
};

void PrintTo(const LogCase& c, std::ostream* out) {
    *out << c.name;
}

class DataLogText : public TelComEngineTest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(DataLogText, WrittenWhenLoggingData) {
    Feed(GetParam().input);
    EXPECT_EQ(CountOf(DataLog(), GetParam().text), 1) << DataLog();
}

TEST_P(DataLogText, NothingWhenNotLoggingData) {
    port.LogData = 0;
    Feed(GetParam().input);
    EXPECT_EQ(DataLog(), "");
}

INSTANTIATE_TEST_SUITE_P(
    TelComEngine, DataLogText,
    ::testing::Values(
        LogCase{"BaudRateAnswer", "FF FA 2C 65 00 00 25 80 FF F0",
                "[TELCOM] TCP -> VSP response of SET_BAUDRATE [9600]\r\n"},
        LogCase{"DataSizeAnswer", "FF FA 2C 66 07 FF F0",
                "[TELCOM] TCP -> VSP response of SET_DATASIZE [7]\r\n"},
        LogCase{"ParityAnswer", "FF FA 2C 67 03 FF F0",
                "[TELCOM] TCP -> VSP response of SET_PARITY 1:NONE,2:ODD,3:EVEN,4:MARK,5:SPACE [3]\r\n"},
        LogCase{"StopSizeAnswer", "FF FA 2C 68 02 FF F0",
                "[TELCOM] TCP -> VSP response of SET_STOPSIZE 1:1,2:2,3:1.5 [2]\r\n"},
        LogCase{"ControlAnswerDtrOn", "FF FA 2C 69 08 FF F0",
                "[TELCOM] TCP -> VSP response of SET_CONTROL [08]\r\nSet DTR Signal State ON\r\n"},
        LogCase{"ControlAnswerRtsOff", "FF FA 2C 69 0C FF F0",
                "[TELCOM] TCP -> VSP response of SET_CONTROL [0C]\r\nSet RTS Signal State OFF\r\n"},
        LogCase{"ControlAnswerBreakOn", "FF FA 2C 69 05 FF F0",
                "[TELCOM] TCP -> VSP response of SET_CONTROL [05]\r\nSet BREAK State ON\r\n"},
        LogCase{"LineStateNotice", "FF FA 2C 6A 60 FF F0", "[TELCOM] TCP -> VSP notify linestate\r\n"},
        LogCase{"OptionNameThenRefusal", "FF FB 05", "STATUS\r\n[2"},
        LogCase{"Refusal", "FF FB 05", "<DONT> STATUS\r\n"},
        LogCase{"UnnamedOptionByNumber", "FF FD 63", "<WONT> 99\r\n"},
        LogCase{"EchoRefusal", "FF FD 01", "<WONT> ECHO\r\n"},
        LogCase{"SgaAcceptance", "FF FB 03", "<DO> SUPPRESS GO AHEAD\r\n"}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

// --- commands to the access server ---

struct CommandCase {
    const char* name;
    int command;
    uint32_t value32;
    uint8_t value8;
    std::string bytes;
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.name;
}

class ComPortCommand : public TelComEngineTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(ComPortCommand, SentInOneCall) {
    const CommandCase& c = GetParam();
    engine.SendComPortCommand(c.command, c.value32, c.value8);
    EXPECT_EQ(plainLink.sent, Bytes(c.bytes));
}

INSTANTIATE_TEST_SUITE_P(
    TelComEngine, ComPortCommand,
    ::testing::Values(CommandCase{"BaudRate115200", 1, 115200, 0, "FF FA 2C 01 00 01 C2 00 FF F0"},
                      CommandCase{"BaudRateBytes255Doubled", 1, 0x0000FFFF, 0,
                                  "FF FA 2C 01 00 00 FF FF FF FF FF F0"},
                      CommandCase{"DataSize", 2, 0, 7, "FF FA 2C 02 07 FF F0"},
                      CommandCase{"Parity", 3, 0, 3, "FF FA 2C 03 03 FF F0"},
                      CommandCase{"StopSize", 4, 0, 2, "FF FA 2C 04 02 FF F0"},
                      CommandCase{"ControlDtrOn", 5, 0, 8, "FF FA 2C 05 08 FF F0"},
                      CommandCase{"ValueByte255Doubled", 5, 0, 255, "FF FA 2C 05 FF FF FF F0"},
                      CommandCase{"UnknownZero", 0, 9600, 1, ""}, CommandCase{"UnknownSix", 6, 9600, 1, ""}),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST_F(TelComEngineTest, TlsPortSendsOverTlsLinkOnly) {
    port.SSLUse = 1;
    engine.SendComPortCommand(CTelComEngine::SET_DATASIZE, 0, 8);
    Feed("FF FD 05");
    EXPECT_TRUE(plainLink.sent.empty());
    EXPECT_EQ(tlsLink.sent, Bytes("FF FA 2C 02 08 FF F0 FF FC 05"));
}

TEST_F(TelComEngineTest, TlsPortBeforeHandshakeDropsSends) {
    port.SSLUse = 1;
    tlsLink.accepting = false;
    engine.SendComPortCommand(CTelComEngine::SET_BAUDRATE, 9600, 0);
    EXPECT_EQ(Feed("FF FD 18 41"), 4);
    EXPECT_TRUE(plainLink.sent.empty());
    EXPECT_TRUE(tlsLink.sent.empty());
    EXPECT_EQ(vsport.delivered, Bytes("41"));
}

} // namespace
