#pragma once

#include <QWebPage>

// The page of a view that carries a bridge (main, offline-data and paragraph
// windows). Its main frame stays on our own pages: a navigation anywhere else
// (a link, a script, a foreign frame moving the top window) opens in the
// desktop's browser instead, when it is a web or mail address, and the view
// stays where it was.
class BridgePage : public QWebPage {
    Q_OBJECT

public:
    explicit BridgePage(QObject* parent);

protected:
    bool acceptNavigationRequest(QWebFrame* frame, const QNetworkRequest& request, NavigationType type) override;
};
