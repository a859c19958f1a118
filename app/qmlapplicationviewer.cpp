#include "app/qmlapplicationviewer.h"

#include <QDebug>
#include <QQmlEngine>
#include <QQuickItem>

namespace {

struct FinishedSetting {
  const char* property;
  const char* value;
};

// The scene's finished state, in lookup order. Values travel as text; the scene's
// numeric properties convert them.
struct FinishedObject {
  const char* name;
  const char* found_line;
  FinishedSetting settings[2];
};

constexpr FinishedObject kFinishedState[] = {
    {"progressbar", "- najden progressbar", {{"opacity", "0"}, {}}},
    {"ima1", "- najdena ima1", {{"opacity", "1"}, {}}},
    {"text3", "- najden text3", {{"scale", "1"}, {"text", "Done!"}}},
    {"newexit", "- najdena newexit", {{"opacity", "1"}, {}}},
    {"ma3", "- najdena ma3", {{}, {}}},
    {"done", "- najden done", {{"opacity", "1"}, {}}},
};

}  // namespace

QmlApplicationViewer::QmlApplicationViewer(QWindow* parent) : QQuickView(parent) {
  // The scene draws its own frame and rounded corners: no system frame, and a clear
  // colour with alpha so that the corners stay see-through.
  setFlags(Qt::Window | Qt::FramelessWindowHint);
  setColor(Qt::transparent);
  setResizeMode(QQuickView::SizeRootObjectToView);
  connect(engine(), &QQmlEngine::quit, this, &QWindow::close);
}

void QmlApplicationViewer::stopbar(QString msg) {
  Q_UNUSED(msg);
  qDebug("- stopbar ");
  QObject* root = rootObject();
  if (!root) return;
  for (const FinishedObject& object : kFinishedState) {
    QObject* found = root->findChild<QObject*>(QString::fromLatin1(object.name));
    if (!found) continue;
    qDebug("%s", object.found_line);
    for (const FinishedSetting& setting : object.settings) {
      if (setting.property) found->setProperty(setting.property, QString::fromLatin1(setting.value));
    }
  }
}
