#include <gtest/gtest.h>

#include <cstring>

#include "platform/dshow/FormatBlocks.h"
#include "platform/dshow/Interfaces.h"
#include "platform/dshow/MediaType.h"

TEST(MediaGuids, HaveThePublicValues) {
    EXPECT_EQ(GuidToString(MEDIATYPE_Video), "{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(GuidToString(MEDIASUBTYPE_YV12), "{32315659-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(MEDIASUBTYPE_YV12, FourCCSubtype(MAKEFOURCC('Y', 'V', '1', '2')));
    EXPECT_EQ(GuidToString(IID_IAsyncReader), "{56A868AA-0AD4-11CE-B03A-0020AF0BA770}");
    EXPECT_EQ(IidOf<IGraphBuilder>(), IID_IGraphBuilder);
}

TEST(FormatBlocks, ImageSizeOfYv12) {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = 720;
    bi.biHeight = 480;
    bi.biBitCount = 12;
    EXPECT_EQ(GetBitmapSize(&bi), 518400u);
}

static CMediaType MakeVideoType(LONG width, LONG height) {
    CMediaType mt(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YV12);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->bmiHeader.biWidth = width;
    vih->bmiHeader.biHeight = height;
    return mt;
}

TEST(CMediaType, CopiesOwnFormatBlock) {
    CMediaType a = MakeVideoType(720, 480);
    CMediaType b = a;
    ASSERT_NE(a.Format(), b.Format());
    EXPECT_TRUE(a == b);
    reinterpret_cast<VIDEOINFOHEADER*>(b.Format())->bmiHeader.biHeight = 576;
    EXPECT_TRUE(a != b);
    CMediaType c;
    c = b;
    EXPECT_TRUE(c == b);
    CMediaType moved = std::move(c);
    EXPECT_TRUE(moved == b);
    EXPECT_EQ(c.Format(), nullptr);
}

TEST(CMediaType, PartialMatches) {
    CMediaType full = MakeVideoType(720, 480);
    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_FALSE(full.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_PCM);
    EXPECT_FALSE(full.MatchesPartial(&partial));
}

TEST(CMediaType, CreateAndDeleteTaskMemoryCopies) {
    CMediaType a = MakeVideoType(352, 288);
    AM_MEDIA_TYPE* p = CreateMediaType(&a);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(std::memcmp(p->pbFormat, a.pbFormat, p->cbFormat), 0);
    DeleteMediaType(p);
    AM_MEDIA_TYPE plain{};
    ASSERT_EQ(CopyMediaType(&plain, &a), S_OK);
    FreeMediaType(plain);
    EXPECT_EQ(plain.pbFormat, nullptr);
}
