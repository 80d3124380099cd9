#include "update/update_engine.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "app/show_counters.h"
#include "base/paths.h"
#include "cloud/http_post.h"

namespace vorta_update {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Deletes the local files of an update's offer on the way out, unless the
// update completed: a file of a failed update (cut short, too long, or never
// written) must not stay behind looking like a downloaded image.
struct RemoveFilesUnlessComplete {
    const std::string& folder;
    OfferKind kind;
    const std::vector<UpdateFile>& files;
    bool complete = false;
    ~RemoveFilesUnlessComplete() {
        if (complete) return;
        for (const UpdateFile& f : files) ::unlink(UpdateFilePath(folder, kind, f.sequence).c_str());
    }
};

int32_t SaturatingAdd(int32_t a, int64_t b) {
    const int64_t sum = static_cast<int64_t>(a) + b;
    return sum > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(sum);
}

class UpdateWorker {
public:
    UpdateWorker(OfferKind kind, const std::string& offer_text, const std::string& folder, DeviceLink& device,
                 Downloader& downloader, ProgressSink& sink)
        : kind_(kind),
          offer_text_(offer_text),
          folder_(folder),
          device_(device),
          downloader_(downloader),
          sink_(sink) {}

    Outcome Work() {
        sink_.set_status("GET_UPDATE_FILE");
        const std::vector<UpdateFile> files = OfferFiles(offer_text_, kind_);
        counters_.item_total = static_cast<int32_t>(std::min<size_t>(files.size(), INT32_MAX));
        counters_.byte_total = OfferByteTotal(files);

        // A broken entry anywhere refuses the whole offer before the first
        // download, so that the device is never left with part of an
        // update the offer could not have completed.
        for (const UpdateFile& f : files) {
            if (f.problem == FileProblem::kUnreadable) return Outcome::Failed("UNABLE_GET_FILE");
            if (f.problem == FileProblem::kOutOfRange) return Outcome::Failed("FILE_ERROR");
        }

        // Until the last block is written, a way out (an exception
        // included) deletes the files of this update.
        RemoveFilesUnlessComplete cleanup{folder_, kind_, files};
        for (const UpdateFile& f : files) {
            Outcome step = WriteFile(f);
            if (!step.ok()) return step;
        }
        cleanup.complete = true;
        if (kind_ == OfferKind::kFirmware) device_.FinishFirmwareUpdate();
        return Outcome::Ok();
    }

private:
    Outcome WriteFile(const UpdateFile& f) {
        sink_.set_status("GET_UPDATE_FILE");
        counters_.items_done = SaturatingAdd(counters_.items_done, 1);
        ShowCounters(sink_, counters_);

        const std::string path = UpdateFilePath(folder_, kind_, f.sequence);
        // A body longer than "size" is stopped there: it cannot be the file,
        // and a hostile server could otherwise fill the disk.
        const DownloadResult got = downloader_.Download(f.url, path, f.size);
        if (got == DownloadResult::kTooLarge) return Outcome::Failed("FILE_ERROR");
        if (got != DownloadResult::kOk) return Outcome::Failed("UNABLE_GET_FILE");

        // The file is read block by block from disk: an image is never held
        // whole in memory.
        File in(std::fopen(path.c_str(), "rb"));
        struct stat st {};
        if (!in || ::fstat(::fileno(in.get()), &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<uint64_t>(st.st_size) != f.size)
            return Outcome::Failed("FILE_ERROR");

        // Read ahead 16 blocks at a time, not one system call a block.
        std::setvbuf(in.get(), nullptr, _IOFBF, 16 * kUpdateBlockSize);

        sink_.set_status("UPDATING");
        std::array<uint8_t, kUpdateBlockSize> block;
        const uint32_t blocks = UpdateFile::BlockCount(f.size);
        for (uint32_t i = 0; i < blocks; ++i) {
            const uint32_t offset = i * kUpdateBlockSize;
            const uint32_t take = std::min<uint32_t>(kUpdateBlockSize, f.size - offset);
            // The bytes past the end of the file are flash's erased state.
            block.fill(0xFF);
            if (std::fread(block.data(), 1, take, in.get()) != take) return Outcome::Failed("FILE_ERROR");
            counters_.bytes_done = SaturatingAdd(counters_.bytes_done, take);
            ShowCounters(sink_, counters_);
            if (!device_.WriteBlock(f.address + offset, block.data())) return Outcome::Failed("USB_ERROR");
        }
        return Outcome::Ok();
    }

    OfferKind kind_;
    const std::string& offer_text_;
    const std::string& folder_;
    DeviceLink& device_;
    Downloader& downloader_;
    ProgressSink& sink_;
    ProgressCounters counters_;
};

}  // namespace

DownloadResult HttpDownloader::Download(const std::string& url, const std::string& path, uint64_t max_bytes) {
    HttpOptions options = HttpOptions::FromConfig();
    // What is fetched here ends up on the dive computer, and the offer
    // carries no checksum: TLS verified against the cloud's trust is what
    // vouches for the bytes, so there is no plain-http hop, redirects
    // included.
    options.https_only = true;
    options.max_download_bytes = max_bytes;
    // Offers and images are fetched afresh before every use, so a copy lost
    // in a crash costs nothing: no flush to the disk (it can cost more than
    // the transfer itself on a busy disk).
    options.sync_to_disk = false;
    return download_file(url, path, options);
}

bool LoadOffer(OfferKind kind, Downloader& downloader, const std::string& url, const std::string& folder,
               std::string& text) {
    text.clear();
    if (folder.empty()) return false;
    const std::string path = OfferPath(folder, kind);
    if (downloader.Download(url, path, kMaxOfferBytes) != DownloadResult::kOk) {
        // An earlier offer may name files and a version the cloud has since
        // withdrawn: it is never presented in place of a current one.
        ::unlink(path.c_str());
        return false;
    }
    text = ReadWholeFile(path);
    return OfferUsable(text, kind);
}

std::string FirmwareQuestion(const std::string& format, const std::string& installed, const std::string& offered) {
    constexpr size_t kMaxCharacters = 4095;
    std::string out;
    int used = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's') {
                if (used == 0) out += installed;
                else if (used == 1) out += offered;
                ++used;
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    // Cut after the last whole character that fits.
    size_t characters = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if ((static_cast<unsigned char>(out[i]) & 0xC0) == 0x80) continue;
        if (++characters > kMaxCharacters) {
            out.resize(i);
            break;
        }
    }
    return out;
}

Outcome RunUpdateWorker(OfferKind kind, const std::string& offer_text, const std::string& folder, DeviceLink& device,
                        Downloader& downloader, ProgressSink& sink, UpdateTiming timing) {
    EndLinkOnExit end_link(device);
    Outcome outcome = Outcome::Failed("USB_ERROR");
    try {
        UpdateWorker worker(kind, offer_text, folder, device, downloader, sink);
        outcome = worker.Work();
    } catch (...) {
        outcome = Outcome::Failed("USB_ERROR");
    }
    try {
        sink.set_status(outcome.ok() ? "UPDATE_COMPLETE" : outcome.key);
        std::this_thread::sleep_for(std::chrono::milliseconds(timing.status_pause_ms));
    } catch (...) {}
    // The dialog goes before the link is ended.
    try {
        sink.end(0);
    } catch (...) {}
    return outcome;
}

}  // namespace vorta_update
