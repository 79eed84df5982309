#include "app/datadialog.h"

#include "bridge/bridgepage.h"
#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/net/networkaccessmanager.h"

#include <QUrl>
#include <QWebPage>
#include <QWebView>

DataDialog::DataDialog(std::shared_ptr<BridgeContext> context, QWidget* parent) : QWidget(parent) {
    const QString url = AppInfo::listenPageUrl();
    auto* view = new QWebView(this);
    view->setPage(new BridgePage(view));
    setObjectName(QStringLiteral("dataDialog"));
    view->page()->setNetworkAccessManager(new NetworkAccessManager(view->page()->networkAccessManager(), nullptr));
    view->page()->setForwardUnsupportedContent(true);
    view->load(QUrl(url, QUrl::TolerantMode));
    view->show();

    auto* bridge = new WebApi(std::move(context), view);
    bridge->attachView(view);
}
