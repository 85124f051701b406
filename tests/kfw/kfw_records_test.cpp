// Records, end record, line ends and the invalid files of the KFW reader.
#include "kfw_fixture.h"
#include "loader/kfw_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kHeader = "Product: 12\r\nOptions: 2\r\n";
const std::string kRecord = ":0400010000010203 04F1\r\n";
const Bytes kRecordBytes = {0x04, 0x00, 0x01, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0xF1};
const std::string kEnd = ":0000000000\r\n";

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class KfwRecords : public KfwFixture {
protected:
    void ExpectInvalidKeepingHeader(const std::string& records) {
        SCOPED_TRACE(records);
        EXPECT_EQ(Load(kHeader + records), 1);
        EXPECT_EQ(length, 0);
        EXPECT_EQ(header.product, 12);
        EXPECT_EQ(header.options, 2);
        EXPECT_EQ(info.rfind(" Mfg = 255  \tProduct = 12", 0), 0u);
        EXPECT_TRUE(GuardIntact());
    }
};

TEST_F(KfwRecords, DataRecordIsStoredAsItsTenBytes) {
    ASSERT_EQ(Load(kHeader + ":040001000001020304F1\r\n" + kEnd), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
    ASSERT_EQ(Load(kHeader + ":040001000001020304f1\r\n" + kEnd), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
}

TEST_F(KfwRecords, WrongChecksumFailsTheWholeFile) {
    ExpectInvalidKeepingHeader(":0400010000010203 04F2\r\n" + kEnd);
    ExpectInvalidKeepingHeader(kEnd + ":0400010000010203 0400\r\n");
}

TEST_F(KfwRecords, UnreadableFieldsFailTheWholeFile) {
    ExpectInvalidKeepingHeader(":04zz\r\n" + kEnd);               // address
    ExpectInvalidKeepingHeader(":04000100\r\n" + kEnd);           // type: the line end is skipped
    ExpectInvalidKeepingHeader(":040001zz\r\n" + kEnd);           // type
    ExpectInvalidKeepingHeader(":0400010000010203\r\n" + kEnd);   // data: ':' is no digit
    ExpectInvalidKeepingHeader(":040001000001020304\r\n" + kEnd); // checksum
    ExpectInvalidKeepingHeader(":0400010000010203");              // data at the end of file
}

TEST_F(KfwRecords, TextBetweenRecordsIsSkipped) {
    ASSERT_EQ(Load(kHeader + "\r\n" + ":0400010000010203 04F1 ; first\r\n\r\n  \t" + kEnd +
                   "trailing words"),
              0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
}

TEST_F(KfwRecords, FieldsMayBePrecededByWhiteSpace) {
    ASSERT_EQ(Load(kHeader + ": 04 000100 00 01 02 03 04 F1\r\n" + kEnd), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
}

TEST_F(KfwRecords, EndRecordIsOneZeroByteAndReadingGoesOn) {
    ASSERT_EQ(Load(kHeader + kEnd), 0);
    EXPECT_EQ(Image(), Bytes{0});
    // Its other fields are not read; records after it are stored as well.
    ASSERT_EQ(Load(kHeader + kRecord + ":00zz\r\n" + kRecord + kEnd), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}, kRecordBytes, {0}}));
    // A record of another type and length 0 is an end record too.
    ASSERT_EQ(Load(kHeader + ":00000001FF\r\n"), 0);
    EXPECT_EQ(Image(), Bytes{0});
}

TEST_F(KfwRecords, ColonWithoutLengthEndsTheRecords) {
    ASSERT_EQ(Load(kHeader + kRecord + kEnd + ":xyz\r\n" + kRecord), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
}

TEST_F(KfwRecords, LfAndCrLfFilesLoadAlike) {
    kfw::FirmwareHeader source;
    source.product = 7;
    source.delay = 30;
    Bytes data(1000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 13);
    kfw::KfwWriteOptions options;
    options.recordLength = 32;
    options.crlf = true;
    ASSERT_EQ(Load(kfw::FormatFirmwareFile(source, data, options)), 0);
    const Bytes crlfImage = Image();
    const kfw::FirmwareHeader crlfHeader = header;
    const std::string crlfInfo = info;
    options.crlf = false;
    ASSERT_EQ(Load(kfw::FormatFirmwareFile(source, data, options)), 0);
    EXPECT_EQ(Image(), crlfImage);
    EXPECT_EQ(header, crlfHeader);
    EXPECT_EQ(info, crlfInfo);
    EXPECT_EQ(header, source);
}

TEST_F(KfwRecords, LastLineWithoutLineEndLoadsTheSame) {
    ASSERT_EQ(Load(kHeader + kRecord + ":0000000000"), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
    ASSERT_EQ(Load(kHeader + kRecord + ":00"), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}}));
    ASSERT_EQ(Load(kHeader + kEnd + ":0400010000010203 04F1"), 0);
    EXPECT_EQ(Image(), Concat({{0}, kRecordBytes}));
}

TEST_F(KfwRecords, LoadingTheSameFileTwiceGivesTheSameResult) {
    const std::string path = WriteFile(kHeader + kRecord + kRecord + kEnd);
    ASSERT_EQ(LoadPath(path), 0);
    const Bytes first = Image();
    const kfw::FirmwareHeader firstHeader = header;
    ASSERT_EQ(LoadPath(path), 0);
    EXPECT_EQ(Image(), first);
    EXPECT_EQ(length, 21);
    EXPECT_EQ(header, firstHeader);
}

TEST_F(KfwRecords, FileThatCannotBeOpenedKeepsThePreviousHeader) {
    ASSERT_EQ(Load(kHeader + kRecord + kEnd), 0);
    const std::string previousInfo = info;
    EXPECT_EQ(LoadPath((dir / "missing.kfw").string()), 1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(header.product, 12);
    EXPECT_EQ(info, previousInfo);
    // A directory is no firmware file either.
    length = 5;
    EXPECT_EQ(LoadPath(dir.string()), 1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(header.product, 12);
    EXPECT_EQ(info, previousInfo);
}

TEST_F(KfwRecords, FileWithoutEndRecordIsInvalid) {
    ExpectInvalidKeepingHeader(kRecord);
    ExpectInvalidKeepingHeader(kRecord + ":zz\r\n" + kEnd);
}

TEST_F(KfwRecords, EmptyFileOrHeaderWithoutRecordsIsInvalid) {
    header.product = 99;
    EXPECT_EQ(Load(""), 1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(header, kfw::FirmwareHeader{});
    EXPECT_EQ(info, kfw::FormatHeaderInfo(kfw::FirmwareHeader{}));
    ExpectInvalidKeepingHeader("");
    ExpectInvalidKeepingHeader("\r\n\r\n# no records\r\n");
}

TEST_F(KfwRecords, RecordOfOtherTypeWithDataIsInvalidOnlyBeforeTheEndRecord) {
    ExpectInvalidKeepingHeader(":040001000101020304F0\r\n" + kEnd);
    ExpectInvalidKeepingHeader(kRecord + ":02000000 04 FFFF\r\n" + kEnd);
    // After the end record it is stored as its length, address and type, and
    // the rest of its line is skipped; the records after it are stored too.
    ASSERT_EQ(Load(kHeader + kRecord + kEnd + ":040001000101020304F0\r\n" + kRecord), 0);
    EXPECT_EQ(Image(), Concat({kRecordBytes, {0}, {0x04, 0x00, 0x01, 0x00, 0x01}, kRecordBytes}));
}

TEST_F(KfwRecords, NoImageBufferMeansNotLoaded) {
    const std::string path = WriteFile(kHeader + kEnd);
    EXPECT_EQ(kfw::LoadFirmwareFile(path, {header, info, nullptr, length}), 1);
    EXPECT_EQ(length, 0);
}

// Data size whose stored image, end record included, fills the buffer exactly.
long DataSizeFillingTheBuffer(int recordLength) {
    long size = 0;
    while (kfw::StoredImageSize(size + 1, recordLength) <= kfw::kImageBufferSize)
        ++size;
    return size;
}

TEST_F(KfwRecords, ImageThatFillsTheBufferExactlyIsValid) {
    for (int recordLength : {255, 16}) {
        const long size = DataSizeFillingTheBuffer(recordLength);
        ASSERT_EQ(kfw::StoredImageSize(size, recordLength), kfw::kImageBufferSize);
        kfw::KfwWriteOptions options;
        options.recordLength = recordLength;
        const Bytes data(static_cast<std::size_t>(size), 0x5A);
        EXPECT_EQ(Load(kfw::FormatFirmwareFile({}, data, options)), 0) << recordLength;
        EXPECT_EQ(length, kfw::kImageBufferSize);
        EXPECT_TRUE(GuardIntact());
    }
}

TEST_F(KfwRecords, ImageLargerThanTheBufferIsInvalid) {
    kfw::KfwWriteOptions options;
    options.recordLength = 255;
    // One byte more: only the end record no longer fits.
    const Bytes data(static_cast<std::size_t>(DataSizeFillingTheBuffer(255) + 1), 0x5A);
    EXPECT_EQ(Load(kfw::FormatFirmwareFile({}, data, options)), 1);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(GuardIntact());
    // Far more, with the end record never reached.
    const Bytes big(400000, 0x11);
    EXPECT_EQ(Load(kfw::FormatFirmwareFile({}, big, options)), 1);
    EXPECT_EQ(length, 0);
    EXPECT_TRUE(GuardIntact());
}

} // namespace
