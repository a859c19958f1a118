#include "tests/app/gui_test_support.h"

#include "app/startup.h"
#include "media/devicegroups.h"

#include <QCoreApplication>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTest>

#include <map>

namespace gui_test {

std::map<std::string, SuiteFactory>& registry();

RegisterSuite::RegisterSuite(const char* name, SuiteFactory factory) {
  registry()[name] = std::move(factory);
}

MyThread::SyncEngine EngineStub::engine() {
  return [this](std::vector<std::string> f, const RunSettings& s, const SyncOptions& options) {
    ++calls;
    files = std::move(f);
    settings = s;
    open_output = options.open_output;
    use_cache = options.use_cache;
    output_folder = options.output_folder;
    thread = QThread::currentThread();
    if (during) during(options);
    if (block) gate_.acquire();
    return answer;
  };
}

Window::Window() {
  controller.setOpenOutput(false);
  connect_window(view, model, controller, *QCoreApplication::instance());
  QObject::connect(view.engine(), &QQmlEngine::warnings, [this](const QList<QQmlError>& list) {
    for (const QQmlError& e : list) warnings_ << e.toString();
  });
}

// The scene's bindings read the controller, which goes first.
Window::~Window() { view.setSource(QUrl()); }

QString Window::load(const QString& path) {
  QString problems = load_scene(view, path);
  if (!warnings_.isEmpty()) problems += QLatin1Char('\n') + warnings_.join(QLatin1Char('\n'));
  return problems;
}

QObject* Window::find(const char* objectName) const {
  return view.rootObject() ? view.rootObject()->findChild<QObject*>(QString::fromLatin1(objectName))
                           : nullptr;
}

QList<QQuickItem*> find_items(QQuickItem* item, const QString& name) {
  QList<QQuickItem*> found;
  if (item->objectName() == name) found << item;
  for (QQuickItem* child : item->childItems()) found << find_items(child, name);
  return found;
}

QQuickItem* find_item(QQuickItem* item, const QString& name) {
  const QList<QQuickItem*> found = find_items(item, name);
  return found.isEmpty() ? nullptr : found.front();
}

QString beginMarker() { return QString::fromUtf8(kBeginMarker); }
QString endMarker() { return QString::fromUtf8(kEndMarker); }

}  // namespace gui_test

char* toString(const RunSettings& s) {
  return QTest::toString(QStringLiteral("tolerance %1 fps %2 %3x%4 premiere %5 refine %6 drift %7 media %8")
                             .arg(s.tolerance, 0, 'g', 9).arg(s.fps).arg(s.width).arg(s.height)
                             .arg(s.premiere).arg(s.refine).arg(s.drift_correct).arg(s.write_media));
}
