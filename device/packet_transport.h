// The byte pipe under the device commands.
//
// `Usb` talks to the dive computer through this one small interface, so a real
// serial port, a pseudo-terminal and a scripted test double are
// interchangeable. Errors are raised as boost::system::system_error with the
// operation word "read", "write" or "close"; a read that gets no answer in time
// raises with errc::timed_out. The command layer above catches them all.
#pragma once

#include <boost/asio/serial_port.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class PacketTransport {
public:
    virtual ~PacketTransport() = default;
    // Writes all `size` bytes, waiting at most `timeout` for the line to take
    // them. Returns `size`.
    virtual size_t Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) = 0;
    // Reads exactly `size` bytes, waiting at most `timeout` for them. Returns
    // `size`.
    virtual size_t Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) = 0;
    // Drops whatever was received and not yet read.
    virtual void Purge() = 0;
    virtual void Close() = 0;
};

// A serial port on an io_context: opened at 9600 baud, 8 data bits, one stop
// bit, no parity, no flow control, and held exclusively (TIOCEXCL and an
// exclusive flock) until closed.
//
// The descriptor is non-blocking; every wait is a poll() on it bounded by the
// caller's time-out, so nothing busy-waits and nothing waits forever.
// Received bytes are read in as large pieces as the driver offers and handed
// out packet by packet, so a 4096-byte block costs a handful of system calls
// rather than one per packet. Whatever is buffered when a command fails is
// thrown away by the next Purge.
class SerialPortTransport : public PacketTransport {
public:
    // Opens `port_name` on `port`. Raises system_error "open" or "set_option"; a port locked
    // by another program raises "open" with errc::device_or_resource_busy.
    SerialPortTransport(boost::asio::serial_port& port, const std::string& port_name);
    ~SerialPortTransport() override;  // closes without raising

    size_t Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
    size_t Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) override;
    void Purge() override;
    void Close() override;

private:
    void Fill(std::chrono::steady_clock::time_point deadline);
    void ReleaseExclusive() noexcept;

    boost::asio::serial_port& port_;
    std::vector<uint8_t> rx_;
    size_t rx_begin_ = 0;
    size_t rx_end_ = 0;
    bool awaiting_answer_ = false;  // a request went out and nothing was read since
};
