// The renderers alone: windowless painting (letter-box, stretch, source
// rectangle, border, mixer bitmap), snapshots, presentation by the clock,
// pause and stop, the host's repaint request, the null audio output, and the
// registration of every component.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "MediaTestGraph.h"
#include "PacketSource.h"
#include "RepaintCounter.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/FormatBlocks.h"
#include "platform/media/CAudioRenderer.h"
#include "platform/media/CVideoRenderer.h"
#include "platform/media/MediaClsids.h"
#include "platform/media/MediaComponents.h"

using namespace mediatest;

// Qt's raster painter scales images on its own thread pool, whose
// synchronisation ThreadSanitizer cannot see inside the uninstrumented Qt
// libraries; races reported inside them are not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Gui.so\nrace:libQt6Core.so\n";
}

namespace {

constexpr int kW = 64, kH = 48;

// A YV12 picture: left half white, right half black.
std::vector<BYTE> HalfWhite() {
    std::vector<BYTE> p(kW * kH * 3 / 2, 128);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            p[y * kW + x] = x < kW / 2 ? 235 : 16;
    return p;
}

struct VideoRig {
    ComPtr<FilterGraph> graph;
    ComPtr<CPacketSource> src{new CPacketSource};
    ComPtr<CVideoRenderer> vmr;
    explicit VideoRig(bool clock) : graph(MakeGraph(clock)) {
        HRESULT hr = S_OK;
        vmr = new CVideoRenderer(nullptr, &hr);
        src->AddStream(L"Video", Yv12Type(kW, kH), kW * kH * 3 / 2);
        graph->AddFilter(src.Get(), L"Source");
        graph->AddFilter(vmr.Get(), L"Video Mixing Renderer");
        EXPECT_EQ(Join(graph.Get(), src.Get(), 0, vmr.Get(), 0), S_OK);
    }
    HRESULT Send(const std::vector<BYTE>& pic, REFERENCE_TIME start) {
        return src->Pin(0)->Send(pic.data(), LONG(pic.size()), true, start);
    }
    ~VideoRig() { graph->Stop(); }
};

QRgb At(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xFFFFFF;
}
bool IsWhite(QRgb c) {
    return qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) > 230;
}
bool IsBlack(QRgb c) {
    return qRed(c) < 25 && qGreen(c) < 25 && qBlue(c) < 25;
}

class RendererTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "media_renderer_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QGuiApplication(argc, argv);
        ASSERT_EQ(RegisterMediaComponents(), S_OK);
    }

    // Paints the renderer into a 200 x 100 magenta canvas.
    static QImage Paint(IVMRWindowlessControl* wc) {
        QImage canvas(200, 100, QImage::Format_RGB32);
        canvas.fill(QColor(255, 0, 255));
        QPainter p(&canvas);
        EXPECT_EQ(wc->RepaintVideo(nullptr, &p), S_OK);
        p.end();
        return canvas;
    }
};

} // namespace

TEST_F(RendererTest, LetterBoxAndStretchIntoTheDestination) {
    VideoRig rig(false);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.Send(HalfWhite(), 0), S_OK);
    auto wc = ComPtr<IBaseFilter>(rig.vmr.Get()).As<IVMRWindowlessControl>();
    ASSERT_TRUE(wc);
    const RECT dst{0, 0, 200, 100};
    ASSERT_EQ(wc->SetVideoPosition(nullptr, &dst), S_OK);
    ASSERT_EQ(wc->SetBorderColor(RGB(0, 0, 255)), S_OK);

    // Letter-box: a 4:3 picture 133 wide in the middle, blue borders left and right.
    ASSERT_EQ(wc->SetAspectRatioMode(VMR_ARMODE_LETTER_BOX), S_OK);
    QImage img = Paint(wc);
    EXPECT_EQ(At(img, 5, 50), 0x0000FFu);
    EXPECT_EQ(At(img, 194, 50), 0x0000FFu);
    EXPECT_TRUE(IsWhite(At(img, 40, 50)));
    EXPECT_TRUE(IsWhite(At(img, 95, 5)));
    EXPECT_TRUE(IsBlack(At(img, 105, 95)));
    EXPECT_TRUE(IsBlack(At(img, 160, 50)));

    // Stretch: the whole destination, the halves meeting at x = 100.
    ASSERT_EQ(wc->SetAspectRatioMode(VMR_ARMODE_NONE), S_OK);
    img = Paint(wc);
    EXPECT_TRUE(IsWhite(At(img, 2, 50)));
    EXPECT_TRUE(IsWhite(At(img, 95, 50)));
    EXPECT_TRUE(IsBlack(At(img, 105, 50)));
    EXPECT_TRUE(IsBlack(At(img, 197, 50)));

    // A source rectangle of the right half shows only black.
    const RECT right{kW / 2, 0, kW, kH};
    ASSERT_EQ(wc->SetVideoPosition(&right, nullptr), S_OK);
    img = Paint(wc);
    EXPECT_TRUE(IsBlack(At(img, 2, 50)));
    EXPECT_TRUE(IsBlack(At(img, 197, 50)));

    // An empty destination hides the video: nothing is painted.
    const RECT none{0, 0, 0, 0};
    ASSERT_EQ(wc->SetVideoPosition(nullptr, &none), S_OK);
    img = Paint(wc);
    EXPECT_EQ(At(img, 100, 50), 0xFF00FFu);
}

TEST_F(RendererTest, ColourKeyedOverlayShowsOnlyItsNonBlackPixels) {
    VideoRig rig(false);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.Send(HalfWhite(), 0), S_OK);
    auto wc = ComPtr<IBaseFilter>(rig.vmr.Get()).As<IVMRWindowlessControl>();
    auto mixer = ComPtr<IBaseFilter>(rig.vmr.Get()).As<IVMRMixerBitmap>();
    ASSERT_TRUE(mixer);
    const RECT dst{0, 0, 200, 100};
    wc->SetVideoPosition(nullptr, &dst);

    // A black surface with a yellow frame 2 pixels wide at (50, 20)-(150, 80).
    QImage overlay(200, 100, QImage::Format_RGB32);
    overlay.fill(Qt::black);
    {
        QPainter p(&overlay);
        p.setPen(QPen(QColor(255, 255, 0), 2));
        p.drawRect(50, 20, 100, 60);
    }
    VMRALPHABITMAP bmp{};
    bmp.dwFlags = VMRBITMAP_HDC | VMRBITMAP_SRCCOLORKEY | VMRBITMAP_SRCRECT;
    bmp.hdc = &overlay;
    bmp.rSrc = RECT{0, 0, 200, 100};
    bmp.rDest = NORMALIZEDRECT{0, 0, 1, 1};
    bmp.fAlpha = 1.0f;
    bmp.clrSrcKey = RGB(0, 0, 0);
    ASSERT_EQ(mixer->SetAlphaBitmap(&bmp), S_OK);
    overlay.fill(Qt::red); // the renderer keeps its own copy

    QImage img = Paint(wc);
    EXPECT_EQ(At(img, 50, 50), 0xFFFF00u);  // the frame's left side, over white video
    EXPECT_EQ(At(img, 150, 50), 0xFFFF00u); // its right side, over black video
    EXPECT_EQ(At(img, 100, 20), 0xFFFF00u);
    EXPECT_TRUE(IsWhite(At(img, 75, 50))); // black overlay pixels are transparent
    EXPECT_TRUE(IsBlack(At(img, 125, 50)));
    EXPECT_TRUE(IsWhite(At(img, 10, 10)));

    bmp.dwFlags = VMRBITMAP_DISABLE;
    ASSERT_EQ(mixer->SetAlphaBitmap(&bmp), S_OK);
    img = Paint(wc);
    EXPECT_TRUE(IsWhite(At(img, 50, 50)));
}

TEST_F(RendererTest, CurrentImageIsABottomUpBitmapOfTheNewestPicture) {
    VideoRig rig(false);
    auto wc = ComPtr<IBaseFilter>(rig.vmr.Get()).As<IVMRWindowlessControl>();
    BYTE* dib = nullptr;
    EXPECT_EQ(wc->GetCurrentImage(&dib), E_FAIL); // nothing yet
    ASSERT_EQ(rig.graph->Run(), S_OK);
    auto pic = HalfWhite();
    ASSERT_EQ(rig.Send(pic, 0), S_OK);
    std::fill(pic.begin(), pic.begin() + kW * kH, BYTE(16)); // then an all-black picture
    ASSERT_EQ(rig.Send(pic, 400000), S_OK);
    ASSERT_EQ(wc->GetCurrentImage(&dib), S_OK);
    BITMAPINFOHEADER bmi;
    std::memcpy(&bmi, dib, sizeof bmi);
    EXPECT_EQ(bmi.biWidth, kW);
    EXPECT_EQ(bmi.biHeight, kH);
    EXPECT_EQ(bmi.biBitCount, 32);
    const BYTE* px = dib + sizeof bmi;
    EXPECT_LT(px[0] + px[1] + px[2], 60); // the newest picture is the black one
    CoTaskMemFree(dib);

    LONG w = 0, h = 0;
    EXPECT_EQ(wc->GetNativeVideoSize(&w, &h, nullptr, nullptr), S_OK);
    EXPECT_EQ(w, kW);
    EXPECT_EQ(h, kH);
}

TEST_F(RendererTest, HostIsAskedToRepaintOnItsOwnThread) {
    VideoRig rig(false);
    RepaintCounter host;
    auto wc = ComPtr<IBaseFilter>(rig.vmr.Get()).As<IVMRWindowlessControl>();
    ASSERT_EQ(wc->SetVideoClippingWindow(&host), S_OK);
    ASSERT_EQ(rig.graph->Run(), S_OK);
    std::thread streaming([&] { rig.Send(HalfWhite(), 0); });
    streaming.join();
    EXPECT_EQ(host.count, 0); // queued, not called on the streaming thread
    QCoreApplication::processEvents();
    EXPECT_EQ(host.count, 1);
    wc->SetVideoClippingWindow(nullptr);
}

TEST_F(RendererTest, PicturesArePresentedAtTheirStreamTimes) {
    VideoRig rig(true);
    std::vector<REFERENCE_TIME> lateness;
    rig.vmr->SetPictureObserver([&](const BYTE*, int, int, REFERENCE_TIME s, REFERENCE_TIME) {
        REFERENCE_TIME now = 0;
        rig.vmr->StreamTime(&now);
        lateness.push_back(now - s);
    });
    ASSERT_EQ(rig.graph->Run(), S_OK);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(rig.Send(HalfWhite(), REFERENCE_TIME(i) * 400000), S_OK);
    const auto took = std::chrono::steady_clock::now() - t0;
    ASSERT_EQ(lateness.size(), 8u);
    for (REFERENCE_TIME l : lateness)
        EXPECT_GE(l, 0);                             // never early
    EXPECT_GE(took, std::chrono::milliseconds(270)); // the 8th is due at 280 ms
}

TEST_F(RendererTest, PauseHoldsAndStopReleasesTheStreamingThread) {
    VideoRig rig(true);
    ASSERT_EQ(rig.graph->Pause(), S_OK);
    HRESULT sent = S_OK;
    std::thread streaming([&] { sent = rig.Send(HalfWhite(), 100 * UNITS); }); // due in 100 s
    ASSERT_EQ(rig.graph->Run(), S_OK);
    ASSERT_EQ(rig.graph->Stop(), S_OK); // must not wait for the picture's time
    streaming.join();
    EXPECT_NE(sent, S_OK);
    EXPECT_EQ(rig.vmr->PicturesPresented(), 0);
}

TEST_F(RendererTest, AudioWithoutDeviceIsConsumedOnTheClock) {
    auto graph = MakeGraph(true);
    ComPtr<CPacketSource> src(new CPacketSource);
    CMediaType pcm;
    pcm.SetType(&MEDIATYPE_Audio);
    pcm.SetSubtype(&MEDIASUBTYPE_PCM);
    pcm.SetFormatType(&FORMAT_WaveFormatEx);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(pcm.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
    *w = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    src->AddStream(L"Audio", pcm, 19200);
    ComPtr<IBaseFilter> renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_AudioRenderer, nullptr, 3, IID_IBaseFilter,
                               reinterpret_cast<void**>(&renderer)),
              S_OK);
    graph->AddFilter(src.Get(), L"Source");
    graph->AddFilter(renderer, L"Audio Renderer");
    ASSERT_EQ(Join(graph.Get(), src.Get(), 0, renderer, 0), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    std::vector<BYTE> block(19200, 0); // 100 ms
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(src->Pin(0)->Send(block.data(), 19200, true, i * UNITS / 10), S_OK);
    src->Pin(0)->DeliverEndOfStream();
    LONG code = 0;
    ASSERT_EQ(graph->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_GE(std::chrono::steady_clock::now() - t0,
              std::chrono::milliseconds(490)); // the end at 500 ms
    EXPECT_EQ(static_cast<CAudioRenderer*>(renderer.Get())->FramesConsumed(), 5 * 4800);
    graph->Stop();
}

TEST_F(RendererTest, ComponentsAreMadeByClassIdentifierWithTheirInterfaces) {
    for (const CLSID& clsid :
         {CLSID_MpegDecoder, CLSID_MpaDecoder, CLSID_VideoMixingRenderer9, CLSID_AudioRenderer}) {
        ComPtr<IBaseFilter> f;
        ASSERT_EQ(
            CoCreateInstance(clsid, nullptr, 3, IID_IBaseFilter, reinterpret_cast<void**>(&f)),
            S_OK);
        CLSID got{};
        f->GetClassID(&got);
        EXPECT_EQ(got, clsid);
    }
    ComPtr<IBaseFilter> vmr;
    CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, 3, IID_IBaseFilter,
                     reinterpret_cast<void**>(&vmr));
    auto config = vmr.As<IVMRFilterConfig>();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->SetNumberOfStreams(1), S_OK);
    EXPECT_EQ(config->SetRenderingMode(VMRMode_Windowless), S_OK);
    EXPECT_EQ(config->SetRenderingPrefs(0), S_OK);
    EXPECT_TRUE(vmr.As<IVMRWindowlessControl>());
    EXPECT_TRUE(vmr.As<IVMRMixerBitmap>());

    // The decoder's pins: two inputs (video, subpicture), then the output.
    ComPtr<IBaseFilter> dec;
    CoCreateInstance(CLSID_MpegDecoder, nullptr, 1, IID_IBaseFilter,
                     reinterpret_cast<void**>(&dec));
    EXPECT_TRUE(PinOf(dec, PINDIR_INPUT, 0));
    EXPECT_TRUE(PinOf(dec, PINDIR_INPUT, 1));
    EXPECT_FALSE(PinOf(dec, PINDIR_INPUT, 2));
    EXPECT_TRUE(PinOf(dec, PINDIR_OUTPUT, 0));
}

TEST_F(RendererTest, RenderCompletesDiscAudioThroughDecoderAndAudioRenderer) {
    auto graph = MakeGraph(false);
    ComPtr<CPacketSource> src(new CPacketSource);
    src->AddStream(L"Audio", Ac3Type(2, 48000), 4096);
    graph->AddFilter(src.Get(), L"Source");
    ASSERT_EQ(graph->Render(PinOf(src.Get(), PINDIR_OUTPUT, 0)), S_OK);
    ComPtr<IBaseFilter> dec, out;
    EXPECT_EQ(graph->FindFilterByName(L"Audio Decoder", &dec), S_OK);
    EXPECT_EQ(graph->FindFilterByName(L"Audio Renderer", &out), S_OK);
}
