#include "app/startup.h"

#include "app/animalmodel.h"
#include "app/qmlapplicationviewer.h"
#include "app/qmlfile.h"
#include "core/log.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QScreen>
#include <QSettings>
#include <QWindow>

#include <QGuiApplication>

#include <algorithm>
#include <clocale>
#include <cstring>

namespace {

constexpr int kStopPollMs = 50;
constexpr const char* kGeometryKey = "window/geometry";
constexpr const char* kMaximisedKey = "window/maximised";

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

bool enter_run_folder(const QString& program_folder) {
  const auto holds_the_scene = [](const QString& folder) {
    return QFileInfo(QDir(folder).filePath(QString::fromUtf8(kScenePath))).isFile();
  };
  if (holds_the_scene(QDir::currentPath())) return true;
  // The program lives in Brenvik.app, so the run folder is the one above it.
  const QString above = QFileInfo(program_folder).absolutePath();
  if (!holds_the_scene(above) || !QDir::setCurrent(above)) return false;
  logthis("working in " + QDir::currentPath().toStdString());
  return true;
}

QString load_scene(QmlApplicationViewer& view, const QString& path) {
  view.setSource(QUrl::fromLocalFile(path));
  if (view.status() == QQuickView::Ready) return {};
  QString text = QStringLiteral("cannot load %1").arg(path);
  for (const QQmlError& error : view.errors()) text += QLatin1Char('\n') + error.toString();
  return text;
}

bool restore_window(QWindow& window, const QSettings& store) {
  const QRect kept = store.value(QString::fromLatin1(kGeometryKey)).toRect();
  if (!kept.isValid()) return false;
  // A screen unplugged since would leave the window where nobody can reach it.
  const QList<QScreen*> screens = QGuiApplication::screens();
  const bool reachable = std::any_of(screens.begin(), screens.end(), [&](const QScreen* s) {
    return s->availableGeometry().intersects(kept);
  });
  if (!reachable) return false;
  window.setGeometry(kept);
  return store.value(QString::fromLatin1(kMaximisedKey)).toBool();
}

void remember_window(const QWindow& window, QSettings& store) {
  const bool maximised = (window.windowStates() & Qt::WindowMaximized) != 0;
  store.setValue(QString::fromLatin1(kMaximisedKey), maximised);
  // Maximised, the size to come back to is the one before.
  if (!maximised || !store.contains(QString::fromLatin1(kGeometryKey)))
    store.setValue(QString::fromLatin1(kGeometryKey), window.geometry());
}

bool stop_run(QMLFile& controller, int wait_ms) {
  if (!controller.running()) return true;
  controller.stopRun();
  QElapsedTimer waited;
  waited.start();
  while (controller.running() && waited.elapsed() < wait_ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, kStopPollMs);
  return !controller.running();
}

QVariantList opened_files(const QStringList& arguments, const QString& folder) {
  QVariantList urls;
  for (const QString& argument : arguments)
    if (!argument.startsWith(QLatin1Char('-')))
      urls << QUrl::fromLocalFile(QDir::cleanPath(QDir(folder).absoluteFilePath(argument)));
  return urls;
}
