// The KFW writer and kfw-gen produce files that the reader loads back.
#include "kfw_fixture.h"
#include "loader/kfw_writer.h"

#include <cstdlib>

namespace {

using Bytes = std::vector<std::uint8_t>;

class KfwWriter : public KfwFixture {
protected:
    // Walks the stored records as the transfer engine does and checks that
    // they hold `data` from `address` on, `recordLength` bytes at a time.
    void ExpectImageHolds(const Bytes& data, int recordLength, std::uint32_t address) {
        const Bytes image = Image();
        std::size_t offset = 0;
        std::size_t dataOffset = 0;
        while (offset < image.size() && image[offset] != 0) {
            const std::size_t l = image[offset];
            ASSERT_LE(offset + l + kfw::kRecordOverhead, image.size());
            EXPECT_EQ(l, std::min<std::size_t>(recordLength, data.size() - dataOffset));
            const std::uint32_t recordAddress =
                (image[offset + 1] << 16) | (image[offset + 2] << 8) | image[offset + 3];
            EXPECT_EQ(recordAddress, address + dataOffset);
            EXPECT_EQ(image[offset + kfw::kRecordTypeOffset], 0);
            unsigned sum = 0;
            for (std::size_t i = 0; i < l + kfw::kRecordOverhead; ++i)
                sum += image[offset + i];
            EXPECT_EQ(sum & 0xFF, 0u);
            EXPECT_TRUE(std::equal(image.begin() + offset + kfw::kRecordDataOffset,
                                   image.begin() + offset + kfw::kRecordDataOffset + l,
                                   data.begin() + dataOffset));
            dataOffset += l;
            offset += l + kfw::kRecordOverhead;
        }
        EXPECT_EQ(dataOffset, data.size());
        EXPECT_EQ(offset + 1, image.size()) << "end record is the last byte";
    }
};

TEST_F(KfwWriter, RoundTripsHeaderAndDataForAnyRecordLength) {
    kfw::FirmwareHeader source;
    for (int i = 0; i < kfw::kHeaderKeyCount; ++i)
        kfw::HeaderValue(source, i) = (i % 2 ? -1 : 1) * (i * 1000 + 7);
    Bytes data(777);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31 + 5);
    for (int recordLength : {1, 7, 8, 16, 255}) {
        SCOPED_TRACE(recordLength);
        kfw::KfwWriteOptions options;
        options.recordLength = recordLength;
        options.startAddress = 0xFFFFFF - 776;
        ASSERT_EQ(Load(kfw::FormatFirmwareFile(source, data, options)), 0);
        EXPECT_EQ(header, source);
        EXPECT_EQ(length, kfw::StoredImageSize(777, recordLength));
        ExpectImageHolds(data, recordLength, options.startAddress);
    }
}

TEST_F(KfwWriter, EmptyImageIsJustTheEndRecord) {
    ASSERT_EQ(Load(kfw::FormatFirmwareFile({}, {})), 0);
    EXPECT_EQ(Image(), Bytes{0});
}

TEST_F(KfwWriter, WithoutEndRecordTheFileIsInvalid) {
    kfw::KfwWriteOptions options;
    options.endRecord = false;
    const Bytes data(20, 1);
    EXPECT_EQ(Load(kfw::FormatFirmwareFile({}, data, options)), 1);
    EXPECT_EQ(length, 0);
}

TEST_F(KfwWriter, RefusesOptionsItCannotWrite) {
    const Bytes data(16, 1);
    kfw::KfwWriteOptions options;
    options.recordLength = 0;
    EXPECT_EQ(kfw::FormatFirmwareFile({}, data, options), "");
    options.recordLength = 256;
    EXPECT_EQ(kfw::FormatFirmwareFile({}, data, options), "");
    options.recordLength = 16;
    options.startAddress = 0xFFFFF1; // the last byte would need address 0x1000000
    EXPECT_EQ(kfw::FormatFirmwareFile({}, data, options), "");
    EXPECT_FALSE(kfw::WriteFirmwareFile((dir / "x.kfw").string(), {}, data, options));
    options.startAddress = 0;
    EXPECT_FALSE(kfw::WriteFirmwareFile((dir / "no" / "x.kfw").string(), {}, data, options));
}

TEST_F(KfwWriter, KfwGenWritesALoadableFile) {
    const std::string path = (dir / "gen.kfw").string();
    const std::string command = std::string(KFW_GEN_PATH) +
                                " --size 1000 --record 12 --options 2 --erase-blk 0x400"
                                " --manufacturer 0 --lf " +
                                path;
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_EQ(LoadPath(path), 0);
    EXPECT_EQ(header.options, 2);
    EXPECT_EQ(header.eraseBlk, 1024);
    EXPECT_EQ(header.manufacturer, 0);
    EXPECT_EQ(length, kfw::StoredImageSize(1000, 12));
}

TEST_F(KfwWriter, KfwGenRefusesAnImageTheLoaderCannotHold) {
    const std::string path = (dir / "big.kfw").string();
    const std::string command =
        std::string(KFW_GEN_PATH) + " --size 300000 " + path + " 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
