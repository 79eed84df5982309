// A failure raised inside an event handler is shown to the user for what it
// is, and the program goes on.
#include "app/application.h"
#include "desktop/desktop.h"
#include "player/mpvtypes.h"

#include <QMessageBox>
#include <QTest>
#include <QWidget>

#include <functional>
#include <stdexcept>

namespace {

// Fails on first show, as the video widget does when its renderer cannot be created.
class FailingSurface : public QWidget {
public:
    explicit FailingSurface(std::function<void()> fail) : fail(std::move(fail)) {}

protected:
    void showEvent(QShowEvent*) override { fail(); }

private:
    std::function<void()> fail;
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private slots:
    void failureInAnEventHandlerIsReported_data() {
        QTest::addColumn<bool>("mediaEngine");
        QTest::addColumn<QByteArray>("failure");
        QTest::addColumn<QString>("shown");
        QTest::newRow("media engine") << true << QByteArray("[MpvWidget] cb init gl failed.")
                                      << "媒体播放器无法启动：[MpvWidget] cb init gl failed.";
        QTest::newRow("anything else") << false << QByteArray("map::at") << "程序内部错误：map::at";
    }

    void failureInAnEventHandlerIsReported() {
        // Guards against a failure ending the process, or being shown as the media player's when it is not.
        QFETCH(bool, mediaEngine);
        QFETCH(QByteArray, failure);
        QFETCH(QString, shown);
        QStringList reported;
        Desktop::setExec([&reported](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            reported << (box && box->icon() == QMessageBox::Critical ? box->text() : QString());
            return int(QMessageBox::Ok);
        });
        FailingSurface surface([mediaEngine, failure] {
            if (mediaEngine)
                throw MediaEngineError(failure.toStdString());
            throw std::runtime_error(failure.toStdString());
        });
        surface.show(); // must not terminate the process
        Desktop::setExec(nullptr);
        QCOMPARE(reported, QStringList{shown});
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
