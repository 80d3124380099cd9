// The simulated dive computer's side of the packet protocol, independent of
// the pseudo-terminal: bytes in, answer bytes out.
#pragma once

#include "device/device_packet.h"
#include "tools/devsim/memory_image.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct SimIdentity {
    std::string firmware = "1.025";  // sent as UTF-16LE, at most 6 units
    uint32_t info = 1;
    std::string model = "K7";  // sent as UTF-8, at most 12 bytes
};

// Faults on demand. Counts of reads and writes start at 1; packet counts
// count every packet of the session.
struct SimFaults {
    uint32_t bad_sum_read = 0;   // the Nth block read ends with a wrong sum
    uint32_t bad_seq_read = 0;   // in the Nth block read, chunk `bad_seq_chunk`
    uint32_t bad_seq_chunk = 4;  //   carries seq chunk+1
    uint32_t refuse_write = 0;   // the Nth write commit is refused (result 0)
    bool refuse_all_writes = false;
    std::optional<uint64_t> silent_after_received;  // answer only the first N packets received
    std::optional<uint64_t> silent_after_sent;      // send at most N packets in all
    std::optional<uint64_t> hangup_after_received;  // hang up once N packets were received and answered
    std::optional<uint64_t> hangup_after_sent;      // hang up once N packets were sent
};

class DeviceSimulator {
public:
    DeviceSimulator(MemoryImage& image, SimIdentity identity, SimFaults faults, std::FILE* trace);

    // Takes received bytes (any split) and appends the answers to `out`.
    void Receive(const uint8_t* data, size_t size, std::vector<uint8_t>& out);
    // The link must be hung up once `out` has been sent.
    bool hangup() const { return hangup_; }
    // The identity the device answers with now (a finished firmware update
    // changes its version).
    const SimIdentity& identity() const { return identity_; }
    // Firmware updates finished (CMD_FIRMWARE_DONE received) since start.
    uint32_t firmware_updates() const { return firmware_updates_; }

private:
    void Handle(const uint8_t* packet, std::vector<uint8_t>& out);
    void Send(const DevicePacket& packet, std::vector<uint8_t>& out);
    bool Silent() const;
    void AnswerIdentify(std::vector<uint8_t>& out);
    void AnswerRead(const DevicePacket& request, std::vector<uint8_t>& out);
    void AnswerCommit(const DevicePacket& request, std::vector<uint8_t>& out);
    void FinishFirmware();
    void Trace(const uint8_t* packet);

    MemoryImage& image_;
    SimIdentity identity_;
    SimFaults faults_;
    std::FILE* trace_;

    uint8_t partial_[kPacketSize];
    size_t partial_size_ = 0;
    uint64_t received_ = 0;
    uint64_t sent_ = 0;
    uint32_t reads_ = 0;
    uint32_t writes_ = 0;
    bool hangup_ = false;

    uint32_t firmware_updates_ = 0;
    // Address of the first block written since the last finished firmware
    // update that begins a firmware image ("VFW1" header).
    std::optional<uint64_t> firmware_header_;

    // Chunks of a block being written.
    uint8_t write_block_[kBlockSize];
    uint32_t next_chunk_ = 0;
    bool chunks_in_order_ = true;
};
