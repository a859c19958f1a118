#pragma once
// The file list: the entries the user picked, in the order they were added.

#include <QAbstractListModel>
#include <QList>
#include <QString>

// One entry: a media file path or one of the two device-group marker texts.
class Animal {
 public:
  explicit Animal(const QString& type) : type_(type) {}
  QString type() const { return type_; }

 private:
  QString type_;
};

// Lives on the GUI thread and changes only there. A run never reads it: the
// controller hands the worker a copy of dajmilista() before the run starts.
class AnimalModel : public QAbstractListModel {
  Q_OBJECT

 public:
  // Qt 6 moved UserRole to 256, so the role is 257; the scene reads it by its name.
  enum Roles { TypeRole = Qt::UserRole + 1 };

  explicit AnimalModel(QObject* parent = nullptr);

  // Appends one entry, announced as one inserted row at the end.
  void addAnimal(const Animal& animal);
  // Appends entries in order, announced as one insertion, so that a dropped card of
  // hundreds of clips is taken in at once; none: nothing.
  void addAnimals(const QList<Animal>& animals);
  // Removes `count` entries from `first` on, announced as removed rows; out of range: nothing.
  void removeEntries(int first, int count);
  // Removes every entry inside one model reset.
  void clearall();
  // All entry texts in list order, markers included.
  QList<QString> dajmilista() const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  // The entry text for TypeRole; an invalid value for other roles and rows.
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QHash<int, QByteArray> roleNames() const override;

 private:
  QList<Animal> animals_;
};
