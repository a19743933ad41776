#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/com/Guid.h"

TEST(Guid, ParsesAndPrintsRoundTrip) {
    constexpr GUID g = MakeGuid("{E436EB81-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_EQ(g.Data1, 0xE436EB81u);
    EXPECT_EQ(g.Data2, 0x524F);
    EXPECT_EQ(g.Data4[7], 0x70);
    EXPECT_EQ(GuidToString(g), "{E436EB81-524F-11CE-9F53-0020AF0BA770}");
    EXPECT_EQ(GuidFromString("e436eb81-524f-11ce-9f53-0020af0ba770"), g);
}

TEST(Guid, RejectsMalformedText) {
    for (const char* s : {"", "{}", "E436EB81-524F-11CE-9F53-0020AF0BA77", "E436EB81+524F-11CE-9F53-0020AF0BA770",
                          "G436EB81-524F-11CE-9F53-0020AF0BA770"})
        EXPECT_FALSE(GuidFromString(s).has_value()) << s;
}

namespace {
struct Counted : IUnknown {
    ULONG refs = 1;
    bool* deleted;
    explicit Counted(bool* d) : deleted(d) {}
    virtual ~Counted() { *deleted = true; }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) return GetInterface(static_cast<IUnknown*>(this), ppv);
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        ULONG r = --refs;
        if (!r) delete this;
        return r;
    }
};
} // namespace

TEST(ComPtr, CopiesCountAndLastReleaseDeletes) {
    bool deleted = false;
    {
        auto p = ComPtr<Counted>::Adopt(new Counted(&deleted));
        ComPtr<Counted> q = p;
        EXPECT_EQ(p->refs, 2u);
        ComPtr<IUnknown> u = p.As<IUnknown>();
        EXPECT_EQ(p->refs, 3u);
        q.Reset();
        u.Reset();
        EXPECT_EQ(p->refs, 1u);
    }
    EXPECT_TRUE(deleted);
}
