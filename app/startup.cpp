#include "app/startup.h"

#include "app/animalmodel.h"
#include "app/qmlapplicationviewer.h"
#include "app/qmlfile.h"
#include "core/log.h"
#include "core/stop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>

#include <clocale>
#include <cstring>

namespace {

constexpr int kStoppedByTheWindow = -1;  // a stop request's reason: not a signal
constexpr int kStopPollMs = 50;

}  // namespace

void use_utf8_ctype_in_c_locale() {
  const char* ctype = std::setlocale(LC_CTYPE, nullptr);
  if (!ctype || !std::strcmp(ctype, "C") || !std::strcmp(ctype, "POSIX"))
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

void connect_window(QmlApplicationViewer& view, AnimalModel& model, QMLFile& controller,
                    QCoreApplication& app) {
  view.rootContext()->setContextProperty(QStringLiteral("myModel"), &model);
  logthis("pred povrzuvanje na signalite megu qml i c++");
  QObject::connect(&controller, &QMLFile::send2gui, &view, &QmlApplicationViewer::stopbar);
  logthis("send2gui->stopbar connected");
  QObject::connect(&controller, &QMLFile::send2gui2, &app, &QCoreApplication::quit);
  logthis("send2gui2->quit connected");
  view.rootContext()->setContextProperty(QStringLiteral("QMLFile"), &controller);
  QObject::connect(view.engine(), &QQmlEngine::quit, &app, &QCoreApplication::quit);
  logthis("view engine to quick connected");
}

QString load_scene(QmlApplicationViewer& view, const QString& path) {
  view.setSource(QUrl::fromLocalFile(path));
  if (view.status() == QQuickView::Ready) return {};
  QString text = QStringLiteral("cannot load %1").arg(path);
  for (const QQmlError& error : view.errors()) text += QLatin1Char('\n') + error.toString();
  return text;
}

bool stop_run(QMLFile& controller, int wait_ms) {
  if (!controller.running()) return true;
  request_stop(kStoppedByTheWindow);
  QElapsedTimer waited;
  waited.start();
  while (controller.running() && waited.elapsed() < wait_ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, kStopPollMs);
  return !controller.running();
}
