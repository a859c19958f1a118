#include "app/animalmodel.h"

#include <QDebug>

AnimalModel::AnimalModel(QObject* parent) : QAbstractListModel(parent) {}

void AnimalModel::addAnimal(const Animal& animal) {
  const int row = static_cast<int>(animals_.size());
  beginInsertRows(QModelIndex(), row, row);
  animals_.append(animal);
  endInsertRows();
}

void AnimalModel::addAnimals(const QList<Animal>& animals) {
  if (animals.isEmpty()) return;
  const int row = static_cast<int>(animals_.size());
  beginInsertRows(QModelIndex(), row, row + static_cast<int>(animals.size()) - 1);
  animals_.append(animals);
  endInsertRows();
}

void AnimalModel::removeEntries(int first, int count) {
  if (first < 0 || count <= 0 || first + count > animals_.size()) return;
  beginRemoveRows(QModelIndex(), first, first + count - 1);
  animals_.remove(first, count);
  endRemoveRows();
}

void AnimalModel::clearall() {
  qDebug("tuka odi kod za clear file list");
  beginResetModel();
  animals_.clear();
  endResetModel();
}

QList<QString> AnimalModel::dajmilista() const {
  QList<QString> texts;
  texts.reserve(animals_.size());
  for (const Animal& animal : animals_) texts.append(animal.type());
  return texts;
}

int AnimalModel::rowCount(const QModelIndex& parent) const {
  // A flat list: only the invisible root has rows.
  return parent.isValid() ? 0 : static_cast<int>(animals_.size());
}

QVariant AnimalModel::data(const QModelIndex& index, int role) const {
  if (role != TypeRole || index.row() < 0 || index.row() >= animals_.size()) return {};
  return animals_.at(index.row()).type();
}

QHash<int, QByteArray> AnimalModel::roleNames() const { return {{TypeRole, "type"}}; }
