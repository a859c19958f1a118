#pragma once
// What the window remembers between sessions: the settings of the last accepted run, the
// output choices and the folder the file dialogs open in.

#include "engine/run_settings.h"

#include <QString>

class QSettings;

struct StoredSettings {
  RunSettings run;           // refine and drift_correct included
  QString output_folder;     // empty: the default
  bool open_output = true;
  bool use_cache = true;     // take and keep what earlier runs analysed of the same files
  QString dialog_folder;     // where the file dialogs open
  QString editor = QStringLiteral("other");  // the key of the editor the user edits in (editors())
};

// Reads and writes StoredSettings in a QSettings store. Without a store, nothing is
// kept and load gives back what it is handed.
class SettingsStore {
 public:
  void use(QSettings* store) { store_ = store; }
  bool keeps() const { return store_ != nullptr; }

  // What the store holds, each value missing there taken from `defaults`. Run settings
  // the controller would refuse come back as the defaults' run settings.
  StoredSettings load(const StoredSettings& defaults) const;
  void save(const StoredSettings& settings) const;

 private:
  QSettings* store_ = nullptr;
};
