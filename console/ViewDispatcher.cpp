#include "console/ViewDispatcher.h"

#include "console/WardenhallApp.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <vector>

CViewUpdateEvent::CViewUpdateEvent(UINT code, CRef<CObject> object)
    : QEvent(Type()), m_code(code), m_object(std::move(object)) {}

QEvent::Type CViewUpdateEvent::Type() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

CViewDispatcher& CViewDispatcher::Instance(CWardenhallApp& app) {
    static CViewDispatcher* const dispatcher = [&app] {
        auto* made = new CViewDispatcher(app);
        made->moveToThread(qApp->thread());
        return made;
    }();
    return *dispatcher;
}

void CViewDispatcher::Post(CViewNotice notice) {
    QMetaObject::invokeMethod(this, [this, notice = std::move(notice)] { Deliver(notice); },
                              Qt::QueuedConnection);
}

void CViewDispatcher::Deliver(const CViewNotice& notice) {
    using namespace ViewTargets;
    std::vector<QPointer<QWidget>> receivers;
    switch (notice.target) {
    case kConfiguration:
    case kConfigurationView: receivers = {m_app.m_configurationView}; break;
    case kActivity: receivers = {m_app.m_activityView}; break;
    case kActivityThenConfiguration: receivers = {m_app.m_activityView, m_app.m_configurationView}; break;
    case kUserSheet:
        if (notice.object && notice.object.Get() == m_app.m_userSheetObject.Get())
            receivers = {m_app.m_userSheetWindow};
        break;
    case kDialerSheet:
        if (m_app.m_dialerSheetRegistered)
            receivers = {m_app.m_dialerSheetWindow};
        break;
    case kCacheSheet:
        if (m_app.m_cacheSheetRegistered)
            receivers = {m_app.m_cacheSheetWindow};
        break;
    default: break;
    }
    for (const QPointer<QWidget>& receiver : receivers) {
        if (receiver.isNull())
            continue;
        CViewUpdateEvent event(notice.code, notice.object);
        QCoreApplication::sendEvent(receiver.data(), &event);
    }
}
