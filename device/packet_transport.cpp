#include "device/packet_transport.h"

#include <boost/system/system_error.hpp>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace asio = boost::asio;
using boost::system::error_code;
using boost::system::system_error;

namespace {

// Sleeps in poll() until `fd` is ready for `events` or the deadline passes.
// A hang-up or error counts as ready: the read or write that follows reports
// it. False on time-out.
//
// This poll is what a block costs beyond a bare blocking read of the answer:
// one more system call, and a kernel timer set up and cancelled for its
// time-out (about 1.5 us of system time per wait on a virtual machine; an
// untimed poll costs about what the blocking read does). Keeping the
// deadline on a watcher thread (untimed poll on the port and an eventfd) or
// waiting in epoll_wait instead were measured and gained under 1%.
bool WaitReady(int fd, short events, std::chrono::steady_clock::time_point deadline, const char* op) {
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        struct pollfd p = {fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(ms, 1 << 30)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) throw system_error(error_code(errno, boost::system::system_category()), op);
    }
}

}  // namespace

SerialPortTransport::SerialPortTransport(asio::serial_port& port, const std::string& port_name)
    : port_(port), rx_(16384) {
    port_.open(port_name);  // raises "open"
    const int fd = port_.native_handle();
    // Exclusive use: TIOCEXCL refuses further opens of the tty; the flock
    // makes discovery (and any other careful program) see the port as taken.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        error_code ignored;
        port_.close(ignored);
        throw system_error(error_code(err == EWOULDBLOCK ? EBUSY : err, boost::system::system_category()), "open");
    }
    ::ioctl(fd, TIOCEXCL);
    try {
        port_.set_option(asio::serial_port_base::baud_rate(9600));
        port_.set_option(asio::serial_port_base::character_size(8));
        port_.set_option(asio::serial_port_base::stop_bits(asio::serial_port_base::stop_bits::one));
        port_.set_option(asio::serial_port_base::parity(asio::serial_port_base::parity::none));
        port_.set_option(asio::serial_port_base::flow_control(asio::serial_port_base::flow_control::none));
        // Never sleep in read or write: every wait is a bounded poll.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    } catch (...) {
        ReleaseExclusive();
        error_code ignored;
        port_.close(ignored);
        throw;
    }
    ::tcflush(fd, TCIOFLUSH);
}

SerialPortTransport::~SerialPortTransport() {
    if (port_.is_open()) {
        ReleaseExclusive();
        error_code ignored;
        port_.close(ignored);
    }
}

void SerialPortTransport::ReleaseExclusive() noexcept {
    if (!port_.is_open()) return;
    // The exclusive flag belongs to the tty, not to this descriptor: clear it
    // so the next program (or the next connection) can open the port.
    ::ioctl(port_.native_handle(), TIOCNXCL);
}

void SerialPortTransport::Close() {
    ReleaseExclusive();
    rx_begin_ = rx_end_ = 0;
    port_.close();  // raises "close"
}

void SerialPortTransport::Purge() {
    rx_begin_ = rx_end_ = 0;
    if (port_.is_open()) ::tcflush(port_.native_handle(), TCIFLUSH);
}

size_t SerialPortTransport::Write(const uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
    awaiting_answer_ = true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(port_.native_handle(), data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            throw system_error(error_code(n == 0 ? EIO : errno, boost::system::system_category()), "write");
        // The line is full: wait for it to take the rest, but not forever.
        if (!WaitReady(port_.native_handle(), POLLOUT, deadline, "write")) {
            throw system_error(make_error_code(boost::system::errc::timed_out), "write");
        }
    }
    return size;
}

void SerialPortTransport::Fill(std::chrono::steady_clock::time_point deadline) {
    if (rx_begin_ > 0) {
        std::memmove(rx_.data(), rx_.data() + rx_begin_, rx_end_ - rx_begin_);
        rx_end_ -= rx_begin_;
        rx_begin_ = 0;
    }

    // Right after a request nothing can be there yet, so wait first; in the
    // middle of an answer the next piece usually is, so read first and wait
    // only when it is not.
    const int fd = port_.native_handle();
    bool wait = awaiting_answer_;
    awaiting_answer_ = false;
    for (;;) {
        if (wait && !WaitReady(fd, POLLIN, deadline, "read"))
            throw system_error(make_error_code(boost::system::errc::timed_out), "read");
        const ssize_t n = ::read(fd, rx_.data() + rx_end_, rx_.size() - rx_end_);
        if (n > 0) {
            rx_end_ += static_cast<size_t>(n);
            return;
        }
        if (n == 0) throw system_error(asio::error::eof, "read");
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            throw system_error(error_code(errno, boost::system::system_category()), "read");
        wait = true;
    }
}

size_t SerialPortTransport::Read(uint8_t* data, size_t size, std::chrono::milliseconds timeout) {
    if (size > rx_.size()) throw system_error(make_error_code(boost::system::errc::invalid_argument), "read");
    if (rx_end_ - rx_begin_ < size) {
        // The clock is read only when there is something to wait for: most
        // packets of a block are already in the buffer.
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            Fill(deadline);
        } while (rx_end_ - rx_begin_ < size);
    }
    std::memcpy(data, rx_.data() + rx_begin_, size);
    rx_begin_ += size;
    return size;
}
