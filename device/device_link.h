// The connected dive computer as every device operation sees it: identify,
// read and write 4096-byte blocks, end the link, announce the end of a
// firmware update. `Usb` is the real one; tests put recording fakes in its
// place, and DeviceSession hands its workers one whose EndLink goes out once.
//
// No command raises: every failure comes back as a return value. After a
// failed command the caller sends nothing but EndLink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class DeviceLink {
public:
    virtual ~DeviceLink() = default;

    // Identifies the device. On success the info value is always taken; the
    // firmware text and the model only when the answer carries a non-empty
    // one. On failure nothing is changed.
    virtual bool GetInfo(std::string& firmware_version_text, uint32_t& info_value, std::string& model) = 0;
    // Reads the 4096-byte block at `address` and hands back its first
    // `length` bytes (at most 4096). True only when the block's byte sum
    // agrees.
    virtual bool ReadBlock(uint32_t address, uint8_t* out, uint32_t length) = 0;
    // Writes 4096 bytes at `address`; true when the device reports them
    // written.
    virtual bool WriteBlock(uint32_t address, const uint8_t* data) = 0;
    // Tells the device the connection ends. Returns the bytes written: 40, or
    // 0 on failure.
    virtual size_t EndLink() = 0;
    // Tells the device the last firmware block has been written.
    virtual void FinishFirmwareUpdate() = 0;

protected:
    DeviceLink() = default;
    DeviceLink(const DeviceLink&) = default;
    DeviceLink& operator=(const DeviceLink&) = default;
};

// Ends the link when a worker leaves its scope, whichever way it leaves
// (a failure, an exception); the session's EndLink is sent only once.
class EndLinkOnExit {
public:
    explicit EndLinkOnExit(DeviceLink& device) : device_(device) {}
    ~EndLinkOnExit() {
        try {
            device_.EndLink();
        } catch (...) {}
    }
    EndLinkOnExit(const EndLinkOnExit&) = delete;
    EndLinkOnExit& operator=(const EndLinkOnExit&) = delete;

private:
    DeviceLink& device_;
};
