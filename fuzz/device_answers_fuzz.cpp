// The dive computer's answers to each command, over a scripted byte pipe.
//
// Input: one byte choosing up to four commands (two bits each: identify,
// read a block, write a block, end the link), two bytes of the length the
// read asks for, then the bytes the "device" answers with, in order. Once
// they run out the device is silent (a time-out).
#include "device/usb.h"
#include "fuzz/fuzz_input.h"

#include <boost/system/system_error.hpp>

#include <cstring>
#include <memory>
#include <vector>

namespace {

class ScriptedTransport : public PacketTransport {
public:
    ScriptedTransport(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Write(const uint8_t*, size_t size, std::chrono::milliseconds) override {
        written_ += size;
        return size;
    }
    size_t Read(uint8_t* out, size_t size, std::chrono::milliseconds) override {
        if (size_ - pos_ < size) {
            pos_ = size_;
            throw boost::system::system_error(make_error_code(boost::system::errc::timed_out), "read");
        }
        std::memcpy(out, data_ + pos_, size);
        pos_ += size;
        return size;
    }
    void Purge() override {}
    void Close() override {}

    size_t written() const { return written_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    size_t written_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const uint8_t commands = in.Byte();
    const uint32_t length = in.Byte() | (in.Byte() << 8);  // up to 65535: above a block is refused
    const size_t header = size - in.remaining();

    auto owned = std::make_unique<ScriptedTransport>(data + header, size - header);
    ScriptedTransport* transport = owned.get();
    Usb usb(std::move(owned));

    for (int i = 0; i < 4; ++i) {
        switch ((commands >> (2 * i)) & 3) {
            case 0: {
                std::string firmware = "keep", model = "keep";
                uint32_t info = 12345;
                if (usb.GetInfo(firmware, info, model)) {
                    FUZZ_CHECK(vorta_fuzz::ValidUtf8(firmware) && vorta_fuzz::ValidUtf8(model));
                    FUZZ_CHECK(!firmware.empty() && !model.empty());
                } else {
                    FUZZ_CHECK(firmware == "keep" && model == "keep" && info == 12345);
                }
                break;
            }
            case 1: {
                // Exactly `length` bytes, so that a write past them is caught.
                std::unique_ptr<uint8_t[]> out(new uint8_t[length ? length : 1]);
                const size_t before = transport->written();
                const bool ok = usb.ReadBlock(0x1000, out.get(), length);
                if (length > kBlockSize) FUZZ_CHECK(!ok && transport->written() == before);
                break;
            }
            case 2: {
                std::vector<uint8_t> block(kBlockSize, 0x5A);
                usb.WriteBlock(0x2000, block.data());
                break;
            }
            case 3:
                FUZZ_CHECK(usb.EndLink() == kPacketSize);
                usb.FinishFirmwareUpdate();
                break;
        }
    }
    const uint8_t* raw = data + header;
    const size_t raw_size = size - header;
    FUZZ_CHECK(vorta_fuzz::ValidUtf8(SanitizeUtf8(raw, raw_size)));
    FUZZ_CHECK(vorta_fuzz::ValidUtf8(Utf16LeToUtf8(raw, raw_size / 2)));
    return 0;
}
