// The command layer of the dive-computer link.
//
// Each command is one complete exchange of 40-byte packets. None raises:
// transport errors, time-outs and wrong answers all come back as failure.
// After a failed command the caller sends nothing but EndLink on the
// connection; answers the device may still be sending are not read.
#pragma once

#include "device/device_link.h"
#include "device/device_packet.h"
#include "device/packet_transport.h"

#include <boost/asio/serial_port.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

class Usb : public DeviceLink {
public:
    // Opens `port_name` on `port` (made on an io_context that outlives this
    // object) with the link's line settings and holds it exclusively.
    // Raises boost::system::system_error ("open" or "set_option").
    Usb(boost::asio::serial_port& port, const std::string& port_name);
    // Runs the commands over any transport (tests, other byte pipes).
    explicit Usb(std::unique_ptr<PacketTransport> transport);
    ~Usb() override;  // closes the port without raising

    Usb(const Usb&) = delete;
    Usb& operator=(const Usb&) = delete;

    // Identifies the device. On success the info value is always taken; the
    // firmware text and the model only when the answer carries a non-empty
    // one. On failure nothing is changed.
    bool GetInfo(std::string& firmware_version_text, uint32_t& info_value, std::string& model) override;
    // Reads the 4096-byte block at `address` and hands back its first
    // `length` bytes (at most 4096; more fails without traffic). When all 128
    // chunks and the end packet arrived, `out` is filled even if the byte sum
    // disagrees; the result is true only if it agrees.
    bool ReadBlock(uint32_t address, uint8_t* out, uint32_t length) override;
    // Writes 4096 bytes at `address`; true when the device reports them
    // written.
    bool WriteBlock(uint32_t address, const uint8_t* data) override;
    // Tells the device the connection ends. Returns 40, or 0 on failure.
    size_t EndLink() override;
    // Tells the device the last firmware block has been written.
    void FinishFirmwareUpdate() override;

    // Closes the port; raises system_error "close" on failure.
    void Close();

    // One packet: these raise boost::system::system_error.
    size_t WritePacket(const DevicePacket& packet);
    size_t ReadPacket(DevicePacket& packet);

    // Longest wait for each packet of an answer (and for the line to take a
    // request). A device that stays silent longer fails the command.
    void SetAnswerTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    std::chrono::milliseconds AnswerTimeout() const { return timeout_; }
    // Process-wide default for new links: 3000 ms, or VORTA_DEVICE_TIMEOUT_MS
    // from the environment when set (end-to-end tests shorten it).
    static std::chrono::milliseconds DefaultAnswerTimeout();
    static void SetDefaultAnswerTimeout(std::chrono::milliseconds timeout);

private:
    void BeginExchange();

    std::unique_ptr<PacketTransport> transport_;
    // An exchange began and its answer was not read to the end.
    bool stale_ = false;
    std::chrono::milliseconds timeout_;
    // A block write as it goes on the wire: 128 chunks and the commit. The
    // chunk headers are written once, by the constructor.
    std::array<uint8_t, (kChunksPerBlock + 1) * kPacketSize> write_wire_;
};

// Text helpers of the identity answer, exposed for tests.
// UTF-16LE units up to the first zero unit (at most `units`), as UTF-8; an
// unpaired surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* bytes, size_t units);
// Bytes up to the first zero byte (at most `size`), with every byte sequence
// that is not valid UTF-8 replaced by U+FFFD.
std::string SanitizeUtf8(const uint8_t* bytes, size_t size);
