// A start-up failure of the media engine raised inside an event handler is
// shown to the user and the program goes on.
#include "app/application.h"

#include <QTest>
#include <QWidget>

#include <stdexcept>

namespace {

QStringList reported;

// Fails like the video widget when its renderer cannot be created on first show.
class FailingSurface : public QWidget {
protected:
    void showEvent(QShowEvent*) override { throw std::runtime_error("[MpvWidget] cb init gl failed."); }
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    void failureInAnEventHandlerIsReported() {
        Application::reportFailure = [](const QString& text) { reported << text; };
        FailingSurface surface;
        surface.show(); // must not terminate the process
        QCOMPARE(reported.size(), 1);
        QVERIFY(reported.first().endsWith("[MpvWidget] cb init gl failed."));
        QWidget other;
        other.show();
        QVERIFY(other.isVisible()); // events still flow
    }
};

int main(int argc, char** argv) {
    Application app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
