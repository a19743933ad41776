// Graph events reaching a Qt object's event loop as queued notifications.
#include <gtest/gtest.h>

#include <algorithm>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

#include "TestFilters.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/GraphNotifyEvent.h"

using namespace dshowtest;

namespace {

QCoreApplication* App() {
    static int argc = 1;
    static char name[] = "dshow_notify_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return app;
}

// Stands for a dialog: on WM_USER + 20 it drains the graph's events.
class Receiver : public QObject {
public:
    explicit Receiver(IMediaEventEx* events) : events_(events) {}
    bool event(QEvent* e) override {
        if (e->type() == GraphNotifyEvent::TypeFor(WM_USER + 20)) {
            auto* n = static_cast<GraphNotifyEvent*>(e);
            messages.push_back(n->message());
            params.push_back(n->instanceData());
            threads.push_back(QThread::currentThread());
            LONG code;
            LONG_PTR p1, p2;
            while (events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
                codes.push_back(code);
                events_->FreeEventParams(code, p1, p2);
                if (code == EC_COMPLETE) QCoreApplication::quit();
            }
            return true;
        }
        return QObject::event(e);
    }
    IMediaEventEx* events_;
    std::vector<LONG> messages, codes;
    std::vector<LONG_PTR> params;
    std::vector<QThread*> threads;
};

} // namespace

TEST(NotifyWindow, CompleteArrivesAsAQueuedEventOnTheObjectsThread) {
    Watchdog dog(60);
    App();
    ComPtr<IGraphBuilder> gb;
    ASSERT_EQ(FilterGraph::Create(IID_IGraphBuilder, reinterpret_cast<void**>(&gb)), S_OK);
    auto mc = gb.As<IMediaControl>();
    auto me = gb.As<IMediaEventEx>();
    Receiver receiver(me.Get());
    ASSERT_EQ(me->SetNotifyWindow(&receiver, WM_USER + 20, 42), S_OK);
    ASSERT_EQ(me->CancelDefaultHandling(EC_COMPLETE), S_OK);

    auto* src = new CTestSource(VideoType(MEDIASUBTYPE_YV12), 20);
    auto* ren = new CCountingRenderer();
    ComPtr<IBaseFilter> fs(src), fr(ren);
    gb->AddFilter(fs, L"Source");
    gb->AddFilter(fr, L"Renderer");
    ASSERT_EQ(gb->ConnectDirect(GetPinOf(fs, PINDIR_OUTPUT), GetPinOf(fr, PINDIR_INPUT), nullptr),
              S_OK);
    ASSERT_EQ(mc->Run(), S_OK);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    mc->Stop();
    me->SetNotifyWindow(nullptr, 0, 0);

    ASSERT_FALSE(receiver.messages.empty());
    EXPECT_EQ(receiver.messages[0], WM_USER + 20);
    EXPECT_EQ(receiver.params[0], 42);
    EXPECT_EQ(receiver.threads[0], QCoreApplication::instance()->thread());
    EXPECT_EQ(std::count(receiver.codes.begin(), receiver.codes.end(), EC_COMPLETE), 1);
    EXPECT_EQ(GraphNotifyEvent::TypeFor(WM_USER + 20), QEvent::Type(QEvent::User + 20));
}
