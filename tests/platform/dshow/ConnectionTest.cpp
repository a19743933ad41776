// Connection and allocator negotiation between the test filters.
#include <gtest/gtest.h>

#include "TestFilters.h"
#include "platform/dshow/ComponentRegistry.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FormatBlocks.h"

using namespace dshowtest;

namespace {
struct Graph {
    ComPtr<IGraphBuilder> gb;
    Graph() { EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_IGraphBuilder,
                                         reinterpret_cast<void**>(&gb)),
                        S_OK); }
    IPin* Out(IBaseFilter* f, int n = 0) { return keep(GetPinOf(f, PINDIR_OUTPUT, n)); }
    IPin* In(IBaseFilter* f, int n = 0) { return keep(GetPinOf(f, PINDIR_INPUT, n)); }
    IPin* keep(ComPtr<IPin> p) {
        pins.push_back(p);
        return p.Get();
    }
    std::vector<ComPtr<IPin>> pins;
};
} // namespace

TEST(Connection, DirectConnectAgreesOnTypeAndAllocator) {
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 10, 3, 4096);
    ComPtr<IBaseFilter> fsrc(src);
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fren(ren);
    ASSERT_EQ(g.gb->AddFilter(fsrc, L"Source"), S_OK);
    ASSERT_EQ(g.gb->AddFilter(fren, L"Renderer"), S_OK);
    ASSERT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), S_OK);

    EXPECT_TRUE(src->Pin()->IsConnected());
    EXPECT_EQ(src->Pin()->GetConnected(), static_cast<IPin*>(ren->Pin()));
    EXPECT_TRUE(ren->Pin()->CurrentMediaType() == src->type);
    // The renderer's own allocator was chosen and sized by the source.
    ASSERT_NE(ren->Pin()->Allocator(), nullptr);
    EXPECT_EQ(ren->Pin()->Allocator(), src->Pin()->Allocator());
    ALLOCATOR_PROPERTIES props{};
    src->Pin()->Allocator()->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 3);
    EXPECT_EQ(props.cbBuffer, 4096);

    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(ren->Pin()->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_YV12);
    FreeMediaType(mt);

    EXPECT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(g.gb->Disconnect(g.Out(fsrc)), S_OK);
    EXPECT_EQ(g.gb->Disconnect(g.In(fren)), S_OK);
    EXPECT_FALSE(src->Pin()->IsConnected());
    EXPECT_EQ(ren->Pin()->Allocator(), nullptr);
}

TEST(Connection, RefusedTypeFailsAndLeavesBothFree) {
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1);
    ComPtr<IBaseFilter> fsrc(src);
    auto* ren = new CCountingRenderer(MEDIASUBTYPE_TestB);
    ComPtr<IBaseFilter> fren(ren);
    g.gb->AddFilter(fsrc, L"Source");
    g.gb->AddFilter(fren, L"Renderer");
    HRESULT hr = g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr);
    EXPECT_EQ(hr, VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_FALSE(src->Pin()->IsConnected());
    EXPECT_FALSE(ren->Pin()->IsConnected());
    // A complete proposed type is tried as is.
    CMediaType wrong = VideoType(MEDIASUBTYPE_TestA);
    EXPECT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), &wrong), VFW_E_TYPE_NOT_ACCEPTED);
    // Wrong directions.
    EXPECT_EQ(g.gb->ConnectDirect(g.In(fren), g.Out(fsrc), nullptr), VFW_E_INVALID_DIRECTION);
}

TEST(Connection, ReceivingPinTypesAreTriedFirst) {
    Graph g;
    // The source accepts only its own type, so the renderer's offered type (tried
    // first) is refused by the source and the source's type is used.
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1);
    ComPtr<IBaseFilter> fsrc(src);
    auto* ren = new CCountingRenderer();
    ren->offered.push_back(VideoType(MEDIASUBTYPE_YV12, 32, 32));
    ComPtr<IBaseFilter> fren(ren);
    g.gb->AddFilter(fsrc, L"Source");
    g.gb->AddFilter(fren, L"Renderer");
    ASSERT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), S_OK);
    EXPECT_TRUE(ren->Pin()->CurrentMediaType() == src->type);
    g.gb->Disconnect(g.Out(fsrc));
    g.gb->Disconnect(g.In(fren));

    // Now the renderer offers exactly the source's type first: it is chosen from
    // the receiving pin's list (same result, first pass).
    src->type = VideoType(MEDIASUBTYPE_YV12, 32, 32);
    ASSERT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), S_OK);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(ren->Pin()->CurrentMediaType().Format());
    EXPECT_EQ(vih->bmiHeader.biWidth, 32);
}

TEST(Connection, AllocatorFallsBackToOutputPinsOwn) {
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1, 2, 2048);
    ComPtr<IBaseFilter> fsrc(src);
    auto* ren = new CCountingRenderer();
    ren->refuseAllocator = true;
    ComPtr<IBaseFilter> fren(ren);
    g.gb->AddFilter(fsrc, L"Source");
    g.gb->AddFilter(fren, L"Renderer");
    // NotifyAllocator refuses both candidates: the connection fails (with a
    // negotiated type the failure is folded into "no acceptable types").
    EXPECT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), &src->type), E_FAIL);
    EXPECT_FALSE(src->Pin()->IsConnected());
    EXPECT_FALSE(ren->Pin()->IsConnected());
}

TEST(Connection, InputRequirementsReachDecideBufferSize) {
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1, 2, 2048);
    ComPtr<IBaseFilter> fsrc(src);
    auto* ren = new CCountingRenderer();
    ren->requirements = ALLOCATOR_PROPERTIES{6, 100, 64, 0};
    ComPtr<IBaseFilter> fren(ren);
    g.gb->AddFilter(fsrc, L"Source");
    g.gb->AddFilter(fren, L"Renderer");
    ASSERT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), S_OK);
    ALLOCATOR_PROPERTIES props{};
    src->Pin()->Allocator()->GetProperties(&props);
    EXPECT_EQ(props.cBuffers, 6);
    EXPECT_EQ(props.cbBuffer, 2048);
    EXPECT_EQ(props.cbAlign, 64);
}

TEST(Connection, BufferSizeRefusalFailsTheConnection) {
    Graph g;
    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 1, 2, 0); // size 0: SetProperties refuses
    ComPtr<IBaseFilter> fsrc(src);
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fren(ren);
    g.gb->AddFilter(fsrc, L"Source");
    g.gb->AddFilter(fren, L"Renderer");
    EXPECT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(g.gb->ConnectDirect(g.Out(fsrc), g.In(fren), &src->type), E_INVALIDARG);
    EXPECT_FALSE(src->Pin()->IsConnected());
    EXPECT_FALSE(ren->Pin()->IsConnected());
}

TEST(Connection, TransformOutputNeedsConnectedInput) {
    Graph g;
    auto* t = new CTestTransform();
    ComPtr<IBaseFilter> ft(t);
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fren(ren);
    g.gb->AddFilter(ft, L"Transform");
    g.gb->AddFilter(fren, L"Renderer");
    EXPECT_TRUE(FAILED(g.gb->ConnectDirect(g.Out(ft), g.In(fren), nullptr)));
    EXPECT_EQ(t->GetPinCount(), 2);
    PIN_INFO info{};
    ASSERT_EQ(g.In(ft)->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.achName), L"XForm In");
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    info.pFilter->Release();
}

TEST(Graph, AddFindRemoveFiltersByName) {
    Graph g;
    ComPtr<IBaseFilter> a(new CCountingRenderer()), b(new CCountingRenderer());
    EXPECT_EQ(g.gb->AddFilter(a, L"Renderer"), S_OK);
    EXPECT_EQ(g.gb->AddFilter(b, L"Renderer"), VFW_S_DUPLICATE_NAME);
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(g.gb->FindFilterByName(L"Renderer", &found), S_OK);
    EXPECT_EQ(found.Get(), a.Get());
    FILTER_INFO info{};
    b->QueryFilterInfo(&info);
    EXPECT_EQ(std::wstring(info.achName), L"Renderer 0001");
    ASSERT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    EXPECT_EQ(g.gb->RemoveFilter(a), S_OK);
    EXPECT_EQ(g.gb->FindFilterByName(L"Renderer", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(g.gb->RemoveFilter(a), VFW_E_NOT_FOUND);
    ComPtr<IEnumFilters> e;
    ASSERT_EQ(g.gb->EnumFilters(&e), S_OK);
    IBaseFilter* f = nullptr;
    ULONG got = 0;
    EXPECT_EQ(e->Next(1, &f, &got), S_OK);
    EXPECT_EQ(f, b.Get());
    f->Release();
    EXPECT_EQ(e->Next(1, &f, &got), S_FALSE);
}

TEST(Registry, CoCreateInstanceFindsRegisteredComponents) {
    IBaseFilter* f = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestRenderer, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                               reinterpret_cast<void**>(&f)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(f, nullptr);
    ComponentRegistration reg(ComponentInfo{
        CLSID_TestRenderer, L"Counting Renderer", MERIT_NORMAL, {{MEDIATYPE_Video, GUID_NULL}},
        [](IUnknown* outer, REFIID riid, void** ppv) {
            return CCountingRenderer::Create(outer, riid, ppv, GUID_NULL);
        }});
    ASSERT_EQ(CoCreateInstance(CLSID_TestRenderer, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                               reinterpret_cast<void**>(&f)),
              S_OK);
    CLSID clsid{};
    f->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_TestRenderer);
    f->Release();
    EXPECT_EQ(ComponentRegistry::Instance().Candidates({{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}}).size(),
              0u);
    EXPECT_EQ(ComponentRegistry::Instance().Candidates({{MEDIATYPE_Video, MEDIASUBTYPE_YV12}}).size(),
              1u);
    IMemAllocator* a = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC, IID_IMemAllocator,
                               reinterpret_cast<void**>(&a)),
              S_OK);
    a->Release();
}
