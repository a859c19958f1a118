#pragma once
// The main window: a frameless, transparent view of the QML scene.

#include <QQuickView>
#include <QString>

class QmlApplicationViewer : public QQuickView {
  Q_OBJECT

 public:
  explicit QmlApplicationViewer(QWindow* parent = nullptr);

 public slots:
  // Puts the scene into its finished state through six objects found by objectName;
  // a missing one is skipped. `msg` is not shown.
  void stopbar(QString msg);
};
