// The window: its finished state on scenes with and without the six named objects,
// and the real scene driving the controller.

#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QMimeData>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace gui_test;
using testing_support::TempRunDir;

namespace {

constexpr int kRunWaitMs = 20000;

// A scene holding the named objects, nested two levels down as a real layout would.
QString scene_with(const QStringList& names) {
  QString items;
  for (const QString& name : names) {
    items += name == "text3" ? "Text { objectName: 'text3'; text: 'working'; scale: 0 }\n"
             : name == "ma3" ? "MouseArea { objectName: 'ma3' }\n"
                             : QString("Rectangle { objectName: '%1'; opacity: 0.5 }\n").arg(name);
  }
  return "import QtQuick\nItem { width: 200; height: 100\n"
         "Rectangle { objectName: 'bystander'; opacity: 0.5 }\n"
         "Item { Item {\n" + items + "} } }\n";
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void stopbarSetsTheFinishedState_data();
  void stopbarSetsTheFinishedState();
  void sceneQuitClosesTheWindow();
  void sceneStartsOneRunAndShowsItsEnd();
  void filesDroppedOnTheWindowAreAdded();
};

void WindowTest::stopbarSetsTheFinishedState_data() {
  QTest::addColumn<QStringList>("names");
  const QStringList all = {"progressbar", "ima1", "text3", "newexit", "ma3", "done"};
  QTest::addRow("none of the six") << QStringList{};
  QTest::addRow("only text3") << QStringList{"text3"};
  QTest::addRow("all but progressbar") << all.mid(1);
  QTest::addRow("all six") << all;
}

void WindowTest::stopbarSetsTheFinishedState() {
  QFETCH(QStringList, names);
  QTemporaryDir dir;
  const QString path = dir.filePath("scene.qml");
  testing_support::write_file(path.toStdString(), scene_with(names).toStdString());
  Window w;
  QCOMPARE(w.load(path), QString());

  for (int call = 1; call <= 2; ++call) {
    w.view.stopbar(QString("ignored"));
    const QByteArray where = "call " + QByteArray::number(call);
    if (names.contains("progressbar")) QVERIFY2(w.find("progressbar")->property("opacity") == 0.0, where);
    for (const char* shown : {"ima1", "newexit", "done"})
      if (names.contains(shown)) QVERIFY2(w.find(shown)->property("opacity") == 1.0, where + " " + shown);
    if (names.contains("text3")) {
      QVERIFY2(w.find("text3")->property("scale") == 1.0, where);
      QVERIFY2(w.find("text3")->property("text") == "Done!", where);
    }
    QVERIFY2(w.find("bystander")->property("opacity") == 0.5, where);
  }
}

void WindowTest::sceneQuitClosesTheWindow() {
  QmlApplicationViewer view;
  QVERIFY(view.flags().testFlag(Qt::FramelessWindowHint));
  QCOMPARE(view.color().alpha(), 0);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  emit view.engine()->quit();
  QTRY_VERIFY(!view.isVisible());
}

void WindowTest::sceneStartsOneRunAndShowsItsEnd() {
  TempRunDir run;
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  QObject* sync = w.find("syncbutton");
  QVERIFY(sync);

  QVERIFY(!sync->property("enabled").toBool());  // empty list
  w.add(beginMarker());
  w.add(endMarker());
  QVERIFY(!sync->property("enabled").toBool());  // markers are no media
  testing_support::write_file(run.file("a.wav"), "");
  w.add(QString::fromStdString(run.file("a.wav")));
  QVERIFY(sync->property("enabled").toBool());

  EngineStub stub;
  stub.block = true;
  w.controller.setEngine(stub.engine());
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QVERIFY(w.controller.running());
  QVERIFY(!sync->property("enabled").toBool());
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  stub.release();
  QVERIFY(ended.wait(kRunWaitMs));

  QCOMPARE(stub.calls.load(), 1);
  // The scene's defaults: tolerance 0.99, 1920 x 1080, 25 fps, Final Cut Pro sequences.
  QCOMPARE(std::make_tuple(stub.tolerance, stub.x, stub.y, stub.fps, stub.premiere, stub.refine),
           std::make_tuple(double(0.99f), 1920, 1080, 25.0f, 0, true));
  QTRY_COMPARE(w.find("done")->property("opacity").toDouble(), 1.0);
  QTRY_COMPARE(w.find("progressbar")->property("opacity").toDouble(), 0.0);
  QCOMPARE(w.find("text3")->property("text").toString(), QString("Done!"));
  QVERIFY(sync->property("enabled").toBool());
  QCOMPARE(w.warnings(), QStringList{});
}

void WindowTest::filesDroppedOnTheWindowAreAdded() {
  TempRunDir run;
  const QString accented = QString::fromStdString(run.file("čćž Ünï #1.wav"));
  testing_support::write_file(accented.toStdString(), "");
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));

  QMimeData data;
  // Only files on this machine are taken: no folders, remote or vanished files.
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(run.path())),
                QUrl("https://example.org/c.mov"), QUrl::fromLocalFile(accented + ".gone"),
                QUrl::fromLocalFile(accented)});
  const QPointF at(w.view.width() / 2.0, w.view.height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&w.view, &enter);
  QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&w.view, &move);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&w.view, &drop);

  QCOMPARE(w.model.dajmilista(), QStringList{accented});
  QCOMPARE(w.warnings(), QStringList{});
}

static RegisterSuite registration("Window", [] { return std::make_unique<WindowTest>(); });

#include "window_test.moc"
