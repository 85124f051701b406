// Header scan and info text of KFW files.
#include "kfw_fixture.h"

#include <climits>
#include <cstdio>

namespace {

using kfw::FirmwareHeader;

const std::string kEnd = ":0000000000\r\n";

class KfwHeader : public KfwFixture {};

TEST_F(KfwHeader, KeysSetTheirFieldsAndOthersKeepDefaults) {
    ASSERT_EQ(Load("Product: 12\r\nOptions: 2\r\nErase Blk: 1024\r\n" + kEnd), 0);
    FirmwareHeader expected;
    expected.product = 12;
    expected.options = 2;
    expected.eraseBlk = 1024;
    EXPECT_EQ(header, expected);
    EXPECT_EQ(header.chunk, 64);
    EXPECT_EQ(header.manufacturer, 255);
    EXPECT_EQ(info.rfind(" Mfg = 255  \tProduct = 12", 0), 0u) << info;
}

TEST_F(KfwHeader, EveryKeyReachesItsOwnField) {
    std::string text;
    for (int i = 0; i < kfw::kHeaderKeyCount; ++i)
        text += std::string(kfw::HeaderKeyNames[i]) + ": " + std::to_string(100 + i) + "\n";
    ASSERT_EQ(Load(text + kEnd), 0);
    const int32_t values[] = {
        header.product,  header.bootloader,   header.hardware,     header.software, header.options,
        header.chunk,    header.delay,        header.manufacturer, header.progBlk,  header.eraseBlk,
        header.eraseDly, header.firstAddress, header.lastAddress};
    for (int i = 0; i < kfw::kHeaderKeyCount; ++i) {
        EXPECT_EQ(values[i], 100 + i) << kfw::HeaderKeyNames[i];
        EXPECT_EQ(kfw::HeaderValue(header, i), 100 + i);
    }
}

TEST_F(KfwHeader, ValueStartsTwoCharactersAfterTheFirstColon) {
    ASSERT_EQ(Load("Product:12\r\n" + kEnd), 0);
    EXPECT_EQ(header.product, 2);
    // Without a colon the value is read from the second character on.
    ASSERT_EQ(Load(" 42 Delay\r\n" + kEnd), 0);
    EXPECT_EQ(header.delay, 42);
    ASSERT_EQ(Load("Delay 42\r\n" + kEnd), 0);
    EXPECT_EQ(header.delay, 0);
    // Only the first colon counts.
    ASSERT_EQ(Load("Delay: 5 (was: 9)\r\nNote: x Chunk: 32\r\n" + kEnd), 0);
    EXPECT_EQ(header.delay, 5);
    EXPECT_EQ(header.chunk, 0);
    // A colon at the end of the line leaves no value text.
    ASSERT_EQ(Load("Chunk:\n" + kEnd), 0);
    EXPECT_EQ(header.chunk, 0);
}

TEST_F(KfwHeader, ValueIsReadLikeDecimalScanf) {
    ASSERT_EQ(Load("Delay: -25\nHardware:   +7\nSoftware: 12abc\nOptions: abc\n"
                   "Product: \t 3\n" +
                   kEnd),
              0);
    EXPECT_EQ(header.delay, -25);
    EXPECT_EQ(header.hardware, 7);
    EXPECT_EQ(header.software, 12);
    EXPECT_EQ(header.options, 0);
    EXPECT_EQ(header.product, 3);
    ASSERT_EQ(Load("Delay: 99999999999\nChunk: -99999999999\n" + kEnd), 0);
    EXPECT_EQ(header.delay, INT_MAX);
    EXPECT_EQ(header.chunk, INT_MIN);
}

TEST_F(KfwHeader, KeysMatchCaseSensitivelyAnywhereInTheLine) {
    ASSERT_EQ(Load("product: 5\r\n# the Chunk: 32\r\nxxManufacturerxx: 7\r\n" + kEnd), 0);
    EXPECT_EQ(header.product, 0);
    EXPECT_EQ(header.chunk, 32);
    EXPECT_EQ(header.manufacturer, 7);
}

TEST_F(KfwHeader, OneLineSetsSeveralKeysAndLaterLinesOverride) {
    ASSERT_EQ(Load("Hardware Software: 7\nDelay: 1\nDelay: 2\n" + kEnd), 0);
    EXPECT_EQ(header.hardware, 7);
    EXPECT_EQ(header.software, 7);
    EXPECT_EQ(header.delay, 2);
}

TEST_F(KfwHeader, LongLinesAreScannedInPiecesOf79Characters) {
    // The first piece ends in "Delay: 12"; "34" starts the second piece.
    ASSERT_EQ(Load(std::string(70, 'x') + "Delay: 1234\n" + kEnd), 0);
    EXPECT_EQ(header.delay, 12);
    // A key cut by the piece boundary is not found.
    ASSERT_EQ(Load(std::string(76, 'x') + "Delay: 5\n" + kEnd), 0);
    EXPECT_EQ(header.delay, 0);
    // A piece that begins with ':' starts the records.
    ASSERT_EQ(Load(std::string(79, 'x') + kEnd), 0);
    EXPECT_EQ(length, 1);
}

TEST_F(KfwHeader, ParseLeavesTheFileAtTheFirstRecordLine) {
    const std::string path = WriteFile("Product: 3\r\n\r\nComment\r\n:0000000000\r\n");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(kfw::ParseFirmwareHeader(file, header, info), 1);
    EXPECT_EQ(header.product, 3);
    EXPECT_EQ(std::ftell(file), 23);
    EXPECT_EQ(std::fgetc(file), ':');
    std::fclose(file);
}

TEST_F(KfwHeader, ParseStopsAtTheEndOfAFileWithoutRecords) {
    const std::string path = WriteFile("Product: 3\r\nDelay: 4");
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    header.chunk = 1;
    EXPECT_EQ(kfw::ParseFirmwareHeader(file, header, info), 1);
    EXPECT_EQ(header.product, 3);
    EXPECT_EQ(header.delay, 4);
    EXPECT_EQ(header.chunk, 64);
    EXPECT_EQ(std::fgetc(file), EOF);
    std::fclose(file);
}

TEST_F(KfwHeader, InfoTextWithManufacturerNumber) {
    FirmwareHeader h;
    h.manufacturer = 255;
    h.product = 12;
    h.hardware = 3;
    h.software = 41;
    h.bootloader = 5;
    h.chunk = 64;
    h.delay = -1;
    h.options = 2;
    EXPECT_EQ(kfw::FormatHeaderInfo(h), " Mfg = 255  \tProduct = 12\n\r HWVer = 3\tSWVer = 41\n\r "
                                        "BootVer = 5\tChunk = 64\n\r TxDelay = -1\tOptions = 2");
}

TEST_F(KfwHeader, InfoTextNamesTheMakerForManufacturerZero) {
    ASSERT_EQ(Load("Manufacturer: 0\nProduct: 9\nHardware: 1\nSoftware: 2\nBootloader: 3\n"
                   "Chunk: 32\nDelay: 20\nOptions: 1\n" +
                   kEnd),
              0);
    EXPECT_EQ(info, " Mfg = Kestrom\tProduct = 9\n\r HWVer = 1\tSWVer = 2\n\r BootVer = 3\t"
                    "Chunk = 32\n\r TxDelay = 20\tOptions = 1");
}

TEST_F(KfwHeader, InfoTextHoldsExtremeValues) {
    FirmwareHeader h;
    h.manufacturer = INT_MIN;
    h.product = INT_MIN;
    h.hardware = INT_MIN;
    h.software = INT_MIN;
    h.bootloader = INT_MIN;
    h.chunk = INT_MIN;
    h.delay = INT_MIN;
    h.options = INT_MIN;
    const std::string m = std::to_string(INT_MIN);
    EXPECT_EQ(kfw::FormatHeaderInfo(h), " Mfg = " + m + "  \tProduct = " + m + "\n\r HWVer = " + m +
                                            "\tSWVer = " + m + "\n\r BootVer = " + m +
                                            "\tChunk = " + m + "\n\r TxDelay = " + m +
                                            "\tOptions = " + m);
}

} // namespace
