#pragma once
// The steps of one download, in order: the set-up message, an address and the data messages of
// every record with the pauses of the file's timing scheme, and the end message. The transfer
// engine takes the steps on the bus; the download plan adds them up beforehand. Both follow this
// one walk, so that the time left is worked out from exactly the pauses the engine keeps.

#include "loader/kfw_file.h"

#include <cstdint>

// The worker's pause after a run, before its thread ends.
inline constexpr int kClosingPauseMs = 100;

class CDownloadSteps {
public:
    virtual ~CDownloadSteps() = default;

    // Walks the image (the records as the loader stores them, `length` bytes) by the timing
    // scheme of `header`, whose eraseBlk becomes 1024 when it is 0. Returns 1 when the image was
    // sent completely and the end message was confirmed, 0 in every other case; an image
    // without its end record fails before anything is sent.
    int TransferImage(kfw::FirmwareHeader& header, const std::uint8_t* image, int length);

protected:
    // Sends one IPL message of `kind` with eight payload bytes; 1 when it was confirmed.
    virtual int Send(std::uint8_t kind, const std::uint8_t* payload) = 0;
    // A pause kept precisely, and a long fixed one.
    virtual void Delay(int milliseconds) = 0;
    virtual void Sleep(int milliseconds) = 0;
    // Whether the run is still wanted; asked before every record.
    virtual bool Busy() = 0;
    // The record ending at `offset` (the next record's offset) is done.
    virtual void RecordDone(int offset) = 0;

private:
    int BlockTiming(const std::uint8_t* setup, int eraseBlocks);
    int RecordTiming(const std::uint8_t* setup);
    int SendAddress(int offset);
    int SendRecordData(int offset, int length, int pauseAfterEachMs);
    int StopWithEnd();
    bool ImageHasEndRecord() const;

    const kfw::FirmwareHeader* m_header = nullptr; // of the walk under way
    const std::uint8_t* m_image = nullptr;
    int m_length = 0;
};
