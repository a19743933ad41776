// Times the MPEG parser over one VOB file read through a file-backed byte source:
//   1. construction (container detection and the stream scan), repeated;
//   2. a full pass of FindStartCode and the pack/system/PES headers over the file,
//      skipping payloads, as the demultiplexer walks a title;
//   3. the same pass reading every payload into a buffer, as the demultiplexer
//      copies packets.
// Prints "key value" lines for bench/parse_scan.
//
//   parse_scan_bench FILE.VOB [REPEATS]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "demux/CMpegSplitterFile.h"
#include "demux/MpegDefs.h"
#include "demux/StreamDescription.h"

namespace {

// IAsyncReader over a file with pread; only SyncRead and Length are served.
class FileAsyncReader final : public IAsyncReader {
public:
    static FileAsyncReader* Open(const char* path) {
        int fd = ::open(path, O_RDONLY);
        if (fd < 0) return nullptr;
        off_t size = ::lseek(fd, 0, SEEK_END);
        return new FileAsyncReader(fd, size);
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IAsyncReader) {
            *ppv = static_cast<IAsyncReader*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT RequestAllocator(IMemAllocator*, ALLOCATOR_PROPERTIES*, IMemAllocator**) override {
        return E_NOTIMPL;
    }
    HRESULT Request(IMediaSample*, DWORD_PTR) override { return E_NOTIMPL; }
    HRESULT WaitForNext(DWORD, IMediaSample**, DWORD_PTR*) override { return E_NOTIMPL; }
    HRESULT SyncReadAligned(IMediaSample*) override { return E_NOTIMPL; }
    HRESULT SyncRead(LONGLONG pos, LONG len, BYTE* buf) override {
        maxReadEnd_ = std::max<LONGLONG>(maxReadEnd_, pos + len);
        LONG done = 0;
        while (done < len) {
            ssize_t n = ::pread(fd_, buf + done, static_cast<size_t>(len - done), pos + done);
            if (n < 0) return E_FAIL;
            if (n == 0) break;
            done += static_cast<LONG>(n);
        }
        return done == len ? S_OK : S_FALSE;
    }
    HRESULT Length(LONGLONG* total, LONGLONG* available) override {
        if (total) *total = size_;
        if (available) *available = size_;
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

    // One past the furthest byte asked for since the last reset.
    LONGLONG MaxReadEnd() const { return maxReadEnd_; }
    void ResetMaxReadEnd() { maxReadEnd_ = 0; }

private:
    FileAsyncReader(int fd, off_t size) : fd_(fd), size_(size) {}
    ~FileAsyncReader() { ::close(fd_); }
    int fd_;
    LONGLONG size_;
    std::atomic<ULONG> refs_{1};
    LONGLONG maxReadEnd_ = 0;
};

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// One pass over the file; returns the number of PES packets met.
long Pass(CMpegSplitterFile& file, bool copyPayloads) {
    std::vector<BYTE> buffer(65536);
    long packets = 0;
    file.Seek(0);
    while (file.GetRemaining() > 0) {
        std::int64_t before = file.GetPos();
        BYTE code = 0;
        if (!file.FindStartCode(code, mpeg::kStartCodeSearchBytes)) continue;
        if (code == mpeg::kPackStartCode) {
            PackHeader h;
            file.ReadPackHeader(h);
        } else if (code == mpeg::kSystemHeaderCode) {
            SystemHeader h;
            file.ReadSystemHeader(h);
        } else if (mpeg::IsPesStreamId(code)) {
            PesHeader h;
            if (file.ReadPesHeader(h, code)) {
                ++packets;
                if (copyPayloads && h.length > 0)
                    file.ReadBytes(buffer.data(),
                                   std::min<std::int64_t>(h.length, file.GetRemaining()));
                else
                    file.Seek(file.GetPos() + h.length);
            }
        }
        if (file.GetPos() <= before) file.Seek(before + 1);
    }
    return packets;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: parse_scan_bench FILE.VOB [REPEATS]\n");
        return 2;
    }
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    ComPtr<FileAsyncReader> reader = ComPtr<FileAsyncReader>::Adopt(FileAsyncReader::Open(argv[1]));
    if (!reader) {
        std::fprintf(stderr, "parse_scan_bench: cannot open %s\n", argv[1]);
        return 2;
    }
    LONGLONG size = 0;
    reader->Length(&size, nullptr);

    std::vector<double> construct;
    std::unique_ptr<CMpegSplitterFile> file;
    LONGLONG scanned = 0;
    for (int i = 0; i < repeats; ++i) {
        reader->ResetMaxReadEnd();
        HRESULT hr = E_FAIL;
        auto start = std::chrono::steady_clock::now();
        auto parsed = std::make_unique<CMpegSplitterFile>(reader.Get(), hr);
        construct.push_back(Seconds(std::chrono::steady_clock::now() - start));
        if (FAILED(hr)) {
            std::fprintf(stderr, "parse_scan_bench: the parser rejected %s\n", argv[1]);
            return 1;
        }
        file = std::move(parsed);
        scanned = reader->MaxReadEnd();
    }
    std::sort(construct.begin(), construct.end());

    auto timedPass = [&](bool copy, long& packets) {
        std::vector<double> t;
        for (int i = 0; i < std::max(1, repeats / 2); ++i) {
            auto start = std::chrono::steady_clock::now();
            packets = Pass(*file, copy);
            t.push_back(Seconds(std::chrono::steady_clock::now() - start));
        }
        std::sort(t.begin(), t.end());
        return t[t.size() / 2];
    };
    long packets = 0, copiedPackets = 0;
    double headers = timedPass(false, packets);
    double copied = timedPass(true, copiedPackets);

    const double mb = size / 1e6;
    std::printf("bytes %lld\n", static_cast<long long>(size));
    std::printf("container %s\n", CMpegSplitterFile::ContainerTypeName(file->GetContainerType()));
    for (int k = 0; k < CMpegSplitterFile::kStreamKinds; ++k)
        for (const auto& s : file->Streams(static_cast<CMpegSplitterFile::StreamKind>(k)))
            std::printf("stream %04x %s\n", static_cast<unsigned>(s.Id()),
                        StreamDescription(s.mt).c_str());
    std::printf("construct_s %.6f\n", construct[construct.size() / 2]);
    std::printf("construct_bytes %lld\n", static_cast<long long>(scanned));
    std::printf("construct_mbps %.1f\n", scanned / 1e6 / construct[construct.size() / 2]);
    std::printf("pass_packets %ld\n", packets);
    std::printf("pass_s %.6f\n", headers);
    std::printf("pass_mbps %.1f\n", mb / headers);
    std::printf("copy_pass_s %.6f\n", copied);
    std::printf("copy_pass_mbps %.1f\n", mb / copied);
    return 0;
}
