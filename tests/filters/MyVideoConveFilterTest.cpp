// The video converter as a pipeline stage between a fake source and a
// capturing sink: type rules, the output type, pictures by content, the
// control interface and its clamps.
#include <gtest/gtest.h>

#include "filters/MyVideoConveFilter.h"
#include "tests/filters/FakePins.h"

namespace {

using fake::CSink;
using fake::CSource;
using fake::Ref;

std::vector<uint8_t> Flat(LONG w, LONG h, uint8_t y, uint8_t v, uint8_t u) {
    std::vector<uint8_t> p(size_t(w) * h * 3 / 2, y);
    std::fill(p.begin() + w * h, p.begin() + w * h + w * h / 4, v);
    std::fill(p.begin() + w * h + w * h / 4, p.end(), u);
    return p;
}

std::vector<uint8_t> Pattern(LONG w, LONG h) {
    std::vector<uint8_t> p(size_t(w) * h * 3 / 2);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 7 + i / 997);
    return p;
}

// Source -> converter -> sink, connected and paused.
struct Chain {
    Ref<CSource> source;
    Ref<CMyVideoConveFilter> filter;
    Ref<CSink> sink;
    IMyVideoConvFilter* control = nullptr;
    HRESULT inHr = E_FAIL, outHr = E_FAIL;

    Chain(LONG w, LONG h, std::vector<CMediaType> sinkOffers = {},
          const std::function<void(IMyVideoConvFilter*)>& setup = nullptr)
        : source(new CSource(fake::VideoType(w, h), w * h * 3 / 2 + 4096)),
          filter(new CMyVideoConveFilter(nullptr, nullptr)),
          sink(new CSink({}, std::move(sinkOffers))) {
        filter->NonDelegatingQueryInterface(IID_IMyVideoConvFilter,
                                            reinterpret_cast<void**>(&control));
        if (setup) setup(control);
        inHr = source->Pin()->Connect(filter->GetPin(0), nullptr);
        if (SUCCEEDED(inHr)) outHr = filter->GetPin(1)->Connect(sink->Pin(), nullptr);
        if (SUCCEEDED(outHr)) {
            sink->Pause();
            filter->Pause();
            source->Pause();
        }
    }
    ~Chain() {
        source->Stop();
        filter->Stop();
        sink->Stop();
        source->Pin()->Disconnect();
        filter->GetPin(0)->Disconnect();
        filter->GetPin(1)->Disconnect();
        sink->Pin()->Disconnect();
        if (control) control->Release();
    }
    const BITMAPINFOHEADER* OutHeader() { return fake::Header(sink->Pin()->CurrentMediaType()); }
};

TEST(MyVideoConveFilter, IdentityAndInterface) {
    Ref<CMyVideoConveFilter> f(new CMyVideoConveFilter(nullptr, nullptr));
    CLSID clsid{};
    EXPECT_EQ(f->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_MyVideoConvFilter);
    EXPECT_EQ(GuidToString(IID_IMyVideoConvFilter), "{A264C372-A83D-42E1-9D93-D6F10B3D95CD}");
    IMyVideoConvFilter* c = nullptr;
    ASSERT_EQ(f->NonDelegatingQueryInterface(IID_IMyVideoConvFilter, reinterpret_cast<void**>(&c)),
              S_OK);
    IBaseFilter* b = nullptr;
    ASSERT_EQ(c->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(b, static_cast<IBaseFilter*>(f.get()));
    b->Release();
    c->Release();
    IBaseFilter* created = nullptr;
    ASSERT_EQ(CMyVideoConveFilter::Create(&created), S_OK);
    EXPECT_EQ(created->Release(), 0u);
    EXPECT_EQ(CMyVideoConveFilter::Create(nullptr), E_POINTER);
}

TEST(MyVideoConveFilter, InputTypeRules) {
    struct {
        const char* name;
        CMediaType type;
        HRESULT want;
    } cases[] = {
        {"YV12 VideoInfo", fake::VideoType(720, 480), S_OK},
        {"YV12 VideoInfo2", fake::VideoType(720, 576, FORMAT_VideoInfo2), S_OK},
        {"odd size", fake::VideoType(721, 481), S_OK},
        {"other subtype", fake::VideoType(720, 480, FORMAT_VideoInfo, MEDIASUBTYPE_RGB24),
         VFW_E_TYPE_NOT_ACCEPTED},
        {"zero height", fake::VideoType(720, 0), VFW_E_TYPE_NOT_ACCEPTED},
        {"bottom-up height", fake::VideoType(720, -480), VFW_E_TYPE_NOT_ACCEPTED},
        {"zero width", fake::VideoType(0, 480), VFW_E_TYPE_NOT_ACCEPTED},
        {"huge", fake::VideoType(100000, 480), VFW_E_TYPE_NOT_ACCEPTED},
        {"audio", fake::AudioType(2, 48000), VFW_E_TYPE_NOT_ACCEPTED},
    };
    Ref<CMyVideoConveFilter> f(new CMyVideoConveFilter(nullptr, nullptr));
    for (auto& c : cases) EXPECT_EQ(f->CheckInputType(&c.type), c.want) << c.name;
    CMediaType shortBlock = fake::VideoType(720, 480);
    shortBlock.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) - 4);
    EXPECT_EQ(f->CheckInputType(&shortBlock), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MyVideoConveFilter, DefaultsPassPicturesThrough) {
    for (auto [w, h] : {std::pair<LONG, LONG>{720, 480}, {720, 576}}) {
        Chain c(w, h);
        ASSERT_EQ(c.outHr, S_OK);
        EXPECT_EQ(c.OutHeader()->biWidth, w);
        EXPECT_EQ(c.OutHeader()->biHeight, h);
        auto pic = Pattern(w, h);
        ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 1000, 2000), S_OK);
        auto got = c.sink->Pin()->Samples();
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].bytes, pic);
        EXPECT_EQ(got[0].start, 1000);
        EXPECT_EQ(got[0].stop, 2000);
    }
}

TEST(MyVideoConveFilter, FitsIntoTheProfileFrame) {
    Chain c(720, 480, {}, [](IMyVideoConvFilter* f) {
        f->SetGeometry(Aspect4x3, 8, 0, 712, 480, 0, 0, 640, 360);
    });
    ASSERT_EQ(c.outHr, S_OK);
    const BITMAPINFOHEADER* out = c.OutHeader();
    EXPECT_EQ(out->biWidth, 640);
    EXPECT_EQ(out->biHeight, 360);
    EXPECT_EQ(out->biSizeImage, 640u * 360 * 3 / 2);
    CVideoConvPlan plan = c.filter->CurrentPlan();
    EXPECT_TRUE(plan.crop && plan.pad && plan.scale);
    EXPECT_EQ(plan.padLeft, 80);
    EXPECT_EQ(plan.padRight, 80);

    auto pic = Flat(720, 480, 180, 100, 150);
    ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 0, 1), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 640u * 360 * 3 / 2);
    const auto& o = got[0].bytes;
    EXPECT_EQ(o[100 * 640 + 79], 16);
    EXPECT_EQ(o[100 * 640 + 80], 180);
    EXPECT_EQ(o[100 * 640 + 559], 180);
    EXPECT_EQ(o[100 * 640 + 560], 16);
    EXPECT_EQ(o[640 * 360 + 50 * 320 + 39], 128);
    EXPECT_EQ(o[640 * 360 + 50 * 320 + 40], 100);
    EXPECT_EQ(o[640 * 360 + 320 * 180 + 50 * 320 + 100], 150);
}

TEST(MyVideoConveFilter, SettingsAreClampedAndApplyToTheNextPicture) {
    Chain c(720, 480);
    ASSERT_EQ(c.outHr, S_OK);
    auto pic = Flat(720, 480, 100, 228, 128);
    ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 0, 1), S_OK);
    EXPECT_EQ(c.control->SetHue(-500), S_OK);        // -> -180
    EXPECT_EQ(c.control->SetLumaGain(-1), S_OK);     // -> 0
    EXPECT_EQ(c.control->SetSaturation(64), S_OK);
    ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 1, 2), S_OK);
    c.control->SetHue(0);
    c.control->SetLumaGain(1000);                     // -> 256
    c.control->SetSaturation(200);                    // -> 128
    ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 2, 3), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 3u);
    const size_t v = 720 * 480, u = v + 360 * 240;
    EXPECT_EQ(got[0].bytes, pic);
    EXPECT_EQ(got[1].bytes[0], 0);
    EXPECT_EQ(got[1].bytes[v], 28);
    EXPECT_EQ(got[1].bytes[u], 128);
    EXPECT_EQ(got[2].bytes[0], 200);
    EXPECT_EQ(got[2].bytes[v], 255); // 128 + 2 * 100, clamped
    EXPECT_EQ(got[2].bytes[u], 128);
}

TEST(MyVideoConveFilter, RefusesDownstreamTypesOfAnotherSize) {
    // The sink proposes full-size YV12 and RGB first; the converter keeps to
    // its own 640x360 frame.
    Chain c(720, 480,
            {fake::VideoType(720, 480),
             fake::VideoType(640, 360, FORMAT_VideoInfo, MEDIASUBTYPE_RGB24)},
            [](IMyVideoConvFilter* f) { f->SetGeometry(Aspect4x3, 0, 0, 720, 480, 0, 0, 640, 360); });
    ASSERT_EQ(c.outHr, S_OK);
    EXPECT_EQ(c.sink->Pin()->CurrentMediaType().subtype, MEDIASUBTYPE_YV12);
    EXPECT_EQ(c.OutHeader()->biWidth, 640);
    EXPECT_EQ(c.OutHeader()->biHeight, 360);
}

TEST(MyVideoConveFilter, WiderDownstreamStrideIsHonoured) {
    // A renderer asking for 768-byte rows of a 720x480 picture.
    Chain c(720, 480, {fake::VideoType(768, 480)});
    ASSERT_EQ(c.outHr, S_OK);
    EXPECT_EQ(c.OutHeader()->biWidth, 768);
    auto pic = Pattern(720, 480);
    ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 0, 1), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_GE(got[0].bytes.size(), 768u * 480 * 3 / 2);
    for (int row : {0, 1, 479})
        EXPECT_EQ(0, std::memcmp(&got[0].bytes[size_t(row) * 768], &pic[size_t(row) * 720], 720));
    EXPECT_EQ(0, std::memcmp(&got[0].bytes[768 * 480 + 384 * 5], &pic[720 * 480 + 360 * 5], 360));
}

TEST(MyVideoConveFilter, WiderStrideAlsoForScaledPictures) {
    Chain c(720, 480, {fake::VideoType(704, 360)}, [](IMyVideoConvFilter* f) {
        f->SetGeometry(Aspect4x3, 0, 0, 720, 480, 0, 0, 640, 360);
    });
    ASSERT_EQ(c.outHr, S_OK);
    EXPECT_EQ(c.OutHeader()->biWidth, 704);
    auto pic = Flat(720, 480, 180, 100, 150);
    ASSERT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 0, 1), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 704u * 360 * 3 / 2);
    const auto& o = got[0].bytes;
    for (int row : {0, 200, 359}) {
        EXPECT_EQ(o[size_t(row) * 704 + 79], 16);
        EXPECT_EQ(o[size_t(row) * 704 + 80], 180);
        EXPECT_EQ(o[size_t(row) * 704 + 560], 16);
    }
    EXPECT_EQ(o[704 * 360 + 90 * 352 + 40], 100);
    EXPECT_EQ(o[704 * 360 + 352 * 180 + 90 * 352 + 40], 150);
}

TEST(MyVideoConveFilter, EmptyOutputFrameFallsBackToTheInputSize) {
    Chain c(720, 576, {}, [](IMyVideoConvFilter* f) {
        f->SetGeometry(Aspect16x9, 0, 0, 720, 576, 0, 0, 0, 0);
    });
    ASSERT_EQ(c.outHr, S_OK);
    EXPECT_EQ(c.OutHeader()->biWidth, 720);
    EXPECT_EQ(c.OutHeader()->biHeight, 576);
    auto pic = Pattern(720, 576);
    EXPECT_EQ(c.source->Pin()->Send(pic.data(), LONG(pic.size()), 0, 1), S_OK);
}

TEST(MyVideoConveFilter, PictureOfANewSizeIsReplanned) {
    Chain c(720, 480, {}, [](IMyVideoConvFilter* f) {
        f->SetGeometry(Aspect4x3, 0, 0, 720, 480, 0, 0, 640, 360);
    });
    ASSERT_EQ(c.outHr, S_OK);
    // A decoder announcing a smaller picture mid-stream (the buffers of the
    // source are sized for 720x480).
    CMediaType cif = fake::VideoType(352, 240);
    auto small = Flat(352, 240, 77, 120, 130);
    ASSERT_EQ(c.source->Pin()->Send(small.data(), LONG(small.size()), 0, 1, &cif), S_OK);
    auto got = c.sink->Pin()->Samples();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 640u * 360 * 3 / 2);
    EXPECT_EQ(got[0].bytes[180 * 640 + 320], 77);
    EXPECT_EQ(got[0].bytes[180 * 640 + 10], 16);
}

TEST(MyVideoConveFilter, ShortPictureFailsWithoutTouchingMemory) {
    Chain c(720, 480);
    ASSERT_EQ(c.outHr, S_OK);
    std::vector<uint8_t> half(720 * 480 / 2, 1);
    EXPECT_EQ(c.source->Pin()->Send(half.data(), LONG(half.size()), 0, 1), E_FAIL);
    EXPECT_TRUE(c.sink->Pin()->Samples().empty());
}

} // namespace
