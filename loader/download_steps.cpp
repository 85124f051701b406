#include "loader/download_steps.h"

#include "busproto/messages.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kBlockTimingOptions = 2;
constexpr int kDefaultEraseBlock = 1024;
constexpr int kMaxRecordPause = 250;
constexpr int kIplPayload = 8;

std::uint8_t Low8(std::int64_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace

int CDownloadSteps::TransferImage(kfw::FirmwareHeader& header, const std::uint8_t* image,
                                  int length) {
    m_header = &header;
    m_image = image;
    m_length = std::clamp(length, 0, kfw::kImageBufferSize);
    if (header.eraseBlk == 0) {
        header.eraseBlk = kDefaultEraseBlock;
    }
    const std::int64_t range = static_cast<std::int64_t>(header.lastAddress) - header.firstAddress;
    std::int64_t eraseBlocks = range / header.eraseBlk;
    if (range % header.eraseBlk != 0) {
        ++eraseBlocks;
    }
    const std::uint8_t setup[kIplPayload] = {Low8(header.manufacturer), Low8(header.product),
                                             Low8(header.hardware),     Low8(header.software),
                                             Low8(header.options),      0,
                                             Low8(eraseBlocks),         0};
    // A malformed image fails before anything reaches the device.
    if (!ImageHasEndRecord()) {
        return 0;
    }
    if (header.options == kBlockTimingOptions) {
        return BlockTiming(setup, static_cast<int>(eraseBlocks));
    }
    return RecordTiming(setup);
}

bool CDownloadSteps::ImageHasEndRecord() const {
    int offset = 0;
    while (offset < m_length) {
        const int recordLength = m_image[offset];
        if (recordLength == 0) {
            return true;
        }
        offset += recordLength + kfw::kRecordOverhead;
        if (offset > m_length) {
            return false;
        }
    }
    return false;
}

int CDownloadSteps::SendAddress(int offset) {
    std::uint8_t payload[kIplPayload] = {};
    std::memcpy(payload, &m_image[offset + kfw::kRecordAddressOffset], 3);
    return Send(IplAddress, payload);
}

int CDownloadSteps::SendRecordData(int offset, int length, int pauseAfterEachMs) {
    // Every data message carries eight bytes: the last one of a record whose
    // length is not a multiple of eight takes the bytes that follow its data,
    // and bytes past the end of the image go as 0.
    for (int i = 0; i < length; i += kIplPayload) {
        std::uint8_t payload[kIplPayload] = {};
        const int start = offset + kfw::kRecordDataOffset + i;
        const int available = std::clamp(m_length - start, 0, kIplPayload);
        std::memcpy(payload, &m_image[start], static_cast<size_t>(available));
        if (Send(IplData, payload) == 0) {
            return 0;
        }
        if (pauseAfterEachMs > 0) {
            Delay(pauseAfterEachMs);
        }
    }
    return 1;
}

int CDownloadSteps::StopWithEnd() {
    Sleep(200);
    const std::uint8_t zero[kIplPayload] = {};
    Send(IplEnd, zero);
    return 0;
}

int CDownloadSteps::BlockTiming(const std::uint8_t* setup, int eraseBlocks) {
    Send(IplSetup, setup);
    Sleep(35);
    if (Send(IplSetup, setup) == 0) {
        Sleep(300);
        if (Send(IplSetup, setup) == 0) {
            return 0;
        }
    }
    Sleep(100);
    // The erase wait is a 32-bit product, as the device's timing is given.
    Delay(static_cast<std::int32_t>(static_cast<std::int64_t>(eraseBlocks) * m_header->eraseDly));

    int programmed = 0;
    int offset = 0;
    while (Busy()) {
        const int length = m_image[offset];
        if (length == 0) {
            const std::uint8_t zero[kIplPayload] = {};
            return Send(IplEnd, zero);
        }
        if (SendAddress(offset) == 0) {
            return 0;
        }
        Delay(1);
        if (SendRecordData(offset, length, 0) == 0) {
            return 0;
        }
        offset += length + kfw::kRecordOverhead;
        RecordDone(offset);
        programmed += length;
        if (programmed >= m_header->progBlk) {
            programmed = 0;
            Delay(m_header->delay);
        }
    }
    return StopWithEnd();
}

int CDownloadSteps::RecordTiming(const std::uint8_t* setup) {
    const int pause = std::clamp(m_header->delay, 0, kMaxRecordPause);
    if (Send(IplSetup, setup) == 0) {
        return 0;
    }
    Sleep(100);
    int offset = 0;
    while (Busy()) {
        const int length = m_image[offset];
        if (length == 0) {
            const std::uint8_t zero[kIplPayload] = {};
            return Send(IplEnd, zero);
        }
        if (SendAddress(offset) == 0) {
            return 0;
        }
        Delay(5);
        if (SendRecordData(offset, length, pause != 0 ? 8 : 0) == 0) {
            return 0;
        }
        if (pause != 0) {
            Delay(pause + 50);
        }
        offset += length + kfw::kRecordOverhead;
        RecordDone(offset);
    }
    return StopWithEnd();
}
